// How the command line shows a station: on a terminal or a pipe as text,
// or as JSON lines.
#pragma once

#include <memory>

#include "app/cli/commands.h"
#include "app/cli/station_events.h"

namespace wxr::cli {

enum class OutputForm {
    OneUnit,  // a plain upgrade or --device of one unit: the dialog's words
    Bench,    // a line per unit and a count
    Json,
};

std::unique_ptr<StationListener> make_station_output(OutputForm form, Console& console);

}  // namespace wxr::cli
