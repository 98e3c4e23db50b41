// Shows the progress of runs while they go: on a terminal one bar per run,
// redrawn in place; elsewhere one line per run and tenth of the way. Every
// line is flushed as it is written, so a pipe sees it at once.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/cli/device_run.h"

namespace wxr::cli {

class ProgressDisplay {
public:
    // labelled: rows name their device (several devices).
    ProgressDisplay(std::ostream& out, bool terminal, bool labelled);

    // Shows the runs going now; a run not seen before gets a row.
    void update(const std::vector<const DeviceRun*>& going);
    // A run has ended: its row shows where it stopped and how it ended.
    void ended(const DeviceRun& run);
    // Lines (each ending in \n) printed above the bars; rows of ended runs go.
    void print(const std::string& lines);
    // The bars stay as they are; what follows is printed below them.
    void leave();

private:
    struct Row {
        std::string label;
        const void* run;  // identity only
        std::int32_t value = 0;
        std::int32_t range = 0;
        int shown_step = 0;
        bool ended = false;
        std::string outcome;  // how the run ended, shown beside its bar
    };

    Row& row_for(const DeviceRun& run);
    void show(Row& row, std::int32_t value);
    void redraw();
    void erase_bars();

    std::ostream& out_;
    bool terminal_;
    bool labelled_;
    std::vector<Row> rows_;
    std::size_t drawn_ = 0;  // bar lines on the screen below the cursor's line
};

// One frame of the bar, e.g. "[#######.............]  35%  850/2416".
std::string progress_bar(std::int32_t value, std::int32_t range);

}  // namespace wxr::cli
