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

// On Windows, stdout and stderr that are a console get whole lines through
// WriteConsoleW, as UTF-16: a console fed UTF-8 bytes piecemeal shows U+FFFD
// for every character past ASCII. A pipe or a file gets the UTF-8 bytes
// unchanged. Nothing to do elsewhere.
void route_console_output();

// Writes the UTF-8 text to fd 1 or 2: through WriteConsoleW when it is a
// Windows console (safe from any thread, no locks), else as the bytes.
void write_raw(int fd, const char* utf8, std::size_t length);

// Output goes out as the UTF-8 bytes written: texts already carry their own
// line ends, and a Windows console is told to show UTF-8. On POSIX, closed
// standard descriptors are opened on /dev/null and a closed pipe is an error,
// not a signal.
void prepare_output();

}  // namespace wxr::cli
