// What a station leaves to do, said once at its end: every unit not
// written (failed, refused, no answer, held back) again with where it is and
// why, and one command that retries exactly those units.
#pragma once

#include <string>
#include <vector>

#include "station/unit_tally.h"

namespace wxr::cli {

using namespace wxr::station;

// How --device names the unit for a retry: its serial, else its location, else its path.
std::string retry_name(const UnwrittenUnit& unit);

// The words as a shell takes them back (POSIX quoting; cmd.exe's on Windows).
std::string shell_command(const std::vector<std::string>& words);

// Empty when every unit was written. command: the retry's words before its
// --device options. marks: a symbol before each result word (a terminal),
// in colour when asked.
std::string recap_text(const std::vector<UnwrittenUnit>& units, const std::vector<std::string>& command, bool marks,
                       bool colour);

}  // namespace wxr::cli
