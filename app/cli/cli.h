// wxr7305: the dialog's operations for scripts, factory lines and terminals.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "station/exit_code.h"
#include "station/stop_request.h"

namespace wxr::cli {

using namespace wxr::station;

struct TerminalTraits;

// args excludes the program name. terminal: stdout is a terminal (draw bars).
// stop: Ctrl-C as the platform's handler reports it; nullptr when none.
// traits: the terminal's size and colour; nullptr: 80 x 24 without colour.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
        StopRequest* stop = nullptr, const TerminalTraits* traits = nullptr);

}  // namespace wxr::cli
