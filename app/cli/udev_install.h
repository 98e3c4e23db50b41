// udev-rule --install (Linux, as root): the rule file written in one step and
// udev told to read it again.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace wxr::cli {

// What went wrong, or nullopt.
using Failure = std::optional<std::string>;

// Writes `text` as dir/name in one step: a temporary file in dir, written,
// synced, then renamed over the old file. On any failure the old file stays
// as it was and the temporary one is gone.
Failure write_file_atomically(const std::string& dir, const std::string& name, const std::string& text);

// `udevadm control --reload-rules`, then `udevadm trigger` for the hidraw
// nodes, so that attached devices get the rule now.
Failure reload_udev_rules();

// Removes dir/package_name when an earlier udev-rule --install wrote it (it
// hid the package's rule of that name, and with it the station's group), and
// warns of such a file of the administrator's own. Returns the exit code of a
// failed removal, or nullopt.
std::optional<int> retire_old_rule(const std::string& dir, const std::string& package_name, std::ostream& out,
                                   std::ostream& err);

// Both, telling what was done; returns the exit code. A reload that fails
// leaves the new rule in place: it applies when the device is plugged in.
int install_udev_rule(const std::string& dir, const std::string& name, const std::string& text,
                      const std::function<Failure()>& reload, std::ostream& out, std::ostream& err);

}  // namespace wxr::cli
