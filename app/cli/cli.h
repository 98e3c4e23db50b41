// wxr7305: the dialog's operations for scripts, factory lines and terminals.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace wxr::cli {

class StopRequest;
struct TerminalTraits;

enum ExitCode : int {
    kExitSuccess = 0,
    kExitOther = 1,  // bad usage, unreadable file, trace, log or output write error
    kExitNoDevice = 2,
    kExitMismatch = 3,
    kExitUpgradeFailed = 4,
    // Ctrl-C (or a stop signal) came before any unit was dealt with: the
    // shell's code for a program interrupted so.
    kExitStopped = 130,
};

// Of two outcomes, the one the exit code must tell.
inline int worse(int a, int b) { return a > b ? a : b; }

// args excludes the program name. terminal: stdout is a terminal (draw bars).
// stop: Ctrl-C as the platform's handler reports it; nullptr when none.
// traits: the terminal's size and colour; nullptr: 80 x 24 without colour.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
        StopRequest* stop = nullptr, const TerminalTraits* traits = nullptr);

}  // namespace wxr::cli
