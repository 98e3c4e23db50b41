// The few things the command line needs from the system it runs on.
#pragma once

#include <string>
#include <vector>

#include "app/cli/screen_text.h"

namespace wxr::cli {

// Stdout is a terminal that takes cursor movements: a Windows console whose
// VT processing could not be enabled, or TERM=dumb, gets plain lines.
bool stdout_is_terminal();

// Its size now and whether to colour it (not with NO_COLOR set).
TerminalTraits terminal_traits();

// The arguments as UTF-8, whatever the system's own encoding of them.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// argv[0] as the user gave it, as UTF-8 (on Windows as the command line holds it).
std::string program_name_as_run(int argc, char** argv);

// Output goes out as the UTF-8 bytes written: texts already carry their own
// line ends, and a Windows console is told to show UTF-8. On POSIX, closed
// standard descriptors are opened on /dev/null and a closed pipe is an error,
// not a signal.
void prepare_output();

}  // namespace wxr::cli
