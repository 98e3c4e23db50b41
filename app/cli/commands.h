// The commands of wxr7305, each in its own file.
#pragma once

#include <iosfwd>
#include <vector>

#include "app/cli/arguments.h"
#include "app/cli/screen_text.h"
#include "station/session.h"
#include "station/stop_request.h"

namespace wxr::cli {

using namespace wxr::station;

// Where a command's output goes, and its Ctrl-C.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool terminal;  // out is a terminal: bars are drawn in place
    StopRequest& stop;
    const TerminalTraits* traits = nullptr;  // its size and colour; nullptr: 80 x 24, no colour
};

int command_info(const Options& options, Console& console);
int command_list(Session& session, const Options& options, Console& console);
// Linux only.
int command_udev_rule(Session& session, const Options& options, Console& console);
int command_upgrade(Session& session, const Options& options, Console& console);

// The interfaces that pass the probe for the session's expected model: the
// --device interface alone, or every present one, in enumeration order.
std::vector<DevicePath> find_devices(Session& session, const Options& options);

// Reads the built-in image into the session's store and expects its model.
void expect_builtin_image(Session& session);

}  // namespace wxr::cli
