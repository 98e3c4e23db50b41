// The station on a terminal: each result once, as a line that stays; below
// those lines a region that fits the screen, redrawn in place: the running
// units' bars (busiest first, "+N more" past what fits) and a status line
// with the station's state and its totals. At the end the region goes and
// the count and the recap stay.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/screen_text.h"
#include "station/station_events.h"

namespace wxr::cli {

using namespace wxr::station;

// A unit with a run, as the region shows it.
struct RunRow {
    std::string label;      // its path, printable
    bool writing = false;   // else its query is being asked
    std::int32_t value = 0;
    std::int32_t range = 0;
    std::int32_t bytes = 0;
};

// Lines the region holds at this size, each narrower than the screen, the
// status line last. rows: in natural path order.
std::vector<std::string> station_frame(std::vector<RunRow> rows, const StationStatus& status, TerminalSize size);

// "writing 3, waiting for more units (Ctrl-C to stop) · 9 written, 1 failed".
std::string status_line(const StationStatus& status);

// retry_command: the words a retry of the units not written starts with.
std::unique_ptr<StationListener> make_station_screen(Console& console, std::vector<std::string> retry_command);

}  // namespace wxr::cli
