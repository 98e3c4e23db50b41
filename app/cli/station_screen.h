// The station on a terminal: each result once, as a line that stays (wrapped
// at words); below those lines a region that fits the screen, overwritten in
// place: a row per unit being probed, queried or written, each with its
// state word, in the order they came; in --watch the units that need a hand
// (failed, refused), pinned until their port is written again; and a status
// line, totals first. At every end the region goes and the recap, the retry
// and the count stay, the count last.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/screen_text.h"
#include "station/port_names.h"
#include "station/station_events.h"

namespace wxr::cli {

using namespace wxr::station;

// A unit in the region, as it shows.
struct RunRow {
    std::string label;  // what the bench calls it, printable
    std::string state;  // "probing", "writing 41 %", "no answer for 6 s (gives up at 10 s)", ...
    bool bar = false;   // being written: a bar beside the word
    std::int32_t value = 0;
    std::int32_t range = 0;
};

// The state word of a visit with a run (run: nullptr when it has none yet).
std::string row_state(VisitState state, const DeviceRun* run, std::uint64_t now_ms);

// Lines the region holds at this size, each narrower than the screen, the
// status line last. rows: in the order they keep; pinned: lines that stay in sight.
std::vector<std::string> station_frame(const std::vector<RunRow>& rows, const std::vector<std::string>& pinned,
                                       const StationStatus& status, TerminalSize size);

// "9 written, 1 failed · writing 3, waiting for more units (Ctrl-C to stop)".
std::string status_line(const StationStatus& status);

// "✗ Port 3 (serial A0017) failed 40 s ago: replug to retry".
std::string pinned_line(RunResult result, const std::string& name, std::uint64_t ago_ms, bool colour);

// What the bench's output needs beyond the console.
struct BenchSetup {
    std::vector<std::string> retry_command;  // the words a retry of the units not written starts with
    const PortNames* ports = nullptr;        // --port-names; nullptr for none
    std::function<std::uint64_t()> now_ms;   // the session's clock; empty: the results' own times only
    bool logged = false;                     // --log keeps what a shortened recap leaves out
};

std::unique_ptr<StationListener> make_station_screen(Console& console, BenchSetup setup);

}  // namespace wxr::cli
