// wxr7305: the dialog's operations for scripts, factory lines and terminals.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace wxr::cli {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitOther = 1,  // bad usage, unreadable file
    kExitNoDevice = 2,
    kExitMismatch = 3,
    kExitUpgradeFailed = 4,
};

// args excludes the program name. terminal: stdout is a terminal (draw a bar).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal);

}  // namespace wxr::cli
