// The commands of wxr7305, each in its own file.
#pragma once

#include <iosfwd>

#include "app/cli/arguments.h"
#include "app/cli/session.h"

namespace wxr::cli {

int command_info(const Options& options, std::ostream& out, std::ostream& err);
int command_list(Session& session, std::ostream& out, std::ostream& err);
int command_udev_rule(Session& session, std::ostream& out, std::ostream& err);
int command_upgrade(Session& session, const Options& options, std::ostream& out, std::ostream& err,
                    bool terminal);

// One discovery pass for devices of the built-in firmware's model.
std::int32_t discover_for_builtin_image(Session& session);

}  // namespace wxr::cli
