// Shows the progress of runs while they go: on a terminal the one unit's bar,
// redrawn in place; elsewhere one line per run and tenth of the way. Every
// line is flushed as it is written, so a pipe sees it at once. (Several
// units on a terminal: station_screen.h.)
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "station/device_run.h"

namespace wxr::cli {

using namespace wxr::station;

class ProgressDisplay {
public:
    // labelled: lines name their device (several devices).
    ProgressDisplay(std::ostream& out, bool terminal, bool labelled);

    // Shows the runs going now.
    void update(const std::vector<const DeviceRun*>& going);
    // A run has ended: its bar shows where it stopped.
    void ended(const DeviceRun& run);
    // The bar stays as it is; what follows is printed below it.
    void leave();

private:
    struct Row {
        const void* run;  // identity only
        std::string label;
        int shown_step = 0;
    };

    Row& row_for(const DeviceRun& run);
    void show(const DeviceRun& run);

    std::ostream& out_;
    bool terminal_;
    bool labelled_;
    std::vector<Row> rows_;
    std::string drawn_;  // the bar on the terminal's last line, not yet ended by a newline
};

// "13.6/38.6 kB": how much of the image has gone, in the unit a person reads.
std::string progress_amount(std::int32_t value, std::int32_t range, std::int32_t bytes);
// One frame of the bar, e.g. "[#######.............]  35%  13.6/38.6 kB";
// width: of the brackets' inside.
std::string progress_bar(std::int32_t value, std::int32_t range, std::int32_t bytes, int width = 40);

}  // namespace wxr::cli
