// What a station leaves to do, said once at its end: every unit not
// written (failed, refused, no answer, held back) again with where it is and
// why, one command that retries exactly those it may help, and the units
// that need another firmware.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "app/cli/shell_words.h"
#include "station/port_names.h"
#include "station/unit_tally.h"

namespace wxr::cli {

using namespace wxr::station;

// How --device names the unit for a retry: its serial, else its location,
// else its path; the first that the shell takes back and that names no other
// of `units`. Empty when none does.
std::string retry_name(const UnwrittenUnit& unit, const std::vector<UnwrittenUnit>& units, Shell shell);

struct RecapStyle {
    bool marks = false;                 // a symbol before each result word (a terminal)
    bool colour = false;
    bool bench_names = false;           // units named as the bench knows them (bench_name.h), else by path
    const PortNames* ports = nullptr;   // with bench_names: the ports' names; nullptr for none
    std::size_t most = std::numeric_limits<std::size_t>::max();  // entries listed; the rest counted
    std::string more_hint;              // after "… and 12 more": where they are (", see --log")
    Shell shell = kNativeShell;
};

// Empty when every unit was written. command: the retry's words before its
// --device options.
std::string recap_text(const std::vector<UnwrittenUnit>& units, const std::vector<std::string>& command,
                       const RecapStyle& style);

}  // namespace wxr::cli
