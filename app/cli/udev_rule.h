// The udev rule that lets the logged-in user reach the devices' hidraw nodes
// (Linux): its file name, its text, and the ids it names.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>


namespace wxr::cli {

// Where --install writes it. Its file is named apart from the package's rule
// (/usr/lib/udev/rules.d/70-wxr7305-tq16.rules, which also gives the devices to
// the station's group wxr7305): a file of the same name here would replace it.
inline constexpr char kUdevRulesDir[] = "/etc/udev/rules.d";

using UsbId = std::pair<std::uint16_t, std::uint16_t>;  // vendor, product
using UsbIds = std::set<UsbId>;

// "70-wxr7305-tq16.rules": one per model, as the package names its rule, so
// that two models' rules live side by side. 70 sorts before
// 73-seat-late.rules, which turns the uaccess tag into access.
std::string udev_rule_file_name(std::uint8_t model);

// "70-wxr7305-tq16-local.rules": what udev-rule prints and --install writes.
// Both files are read; this one only adds the uaccess tag.
std::string udev_local_rule_file_name(std::uint8_t model);

// Whether `text` is what an earlier udev-rule --install wrote under the
// package's rule's name (`package_name`), hiding that rule.
bool is_own_old_rule(const std::string& package_name, const std::string& text);

// "1209:7305,16C0:05DF" (the ids the release knows); nullopt when malformed.
std::optional<UsbIds> parse_usb_ids(std::string_view text);

// The file's text: a comment naming it, then a line per id. Without ids,
// the comment alone says why there is no rule.
std::string udev_rule_text(const std::string& file_name, const UsbIds& ids);

// Writes the named rule into place; returns the exit code.
using RuleInstaller = std::function<int(const std::string& name, const std::string& text)>;

// udev-rule for a firmware of `model`: the rule for the ids the release
// knows and those of the devices found, printed, or handed to `install`
// (--install) when given. With no id at all, a comment saying why is printed
// (never nothing: `udev-rule | sudo tee FILE` writes what is printed), nothing
// is installed, and nullopt tells the caller to report that no device was found.
std::optional<int> emit_udev_rule(std::uint8_t model, const UsbIds& known, const UsbIds& found,
                                  const RuleInstaller* install, std::ostream& out, std::ostream& err);

}  // namespace wxr::cli
