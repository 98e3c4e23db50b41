// How the command line shows a station: on a terminal (station_screen.h) or
// a pipe as text, or as JSON lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/station_screen.h"
#include "station/station_events.h"

namespace wxr::cli {

using namespace wxr::station;

enum class OutputForm {
    OneUnit,  // a plain upgrade or --device of one unit: the dialog's words
    Bench,    // a line per unit, a count, and the units not written again
    Json,
};

std::unique_ptr<StationListener> make_station_output(OutputForm form, Console& console, BenchSetup setup = {});

}  // namespace wxr::cli
