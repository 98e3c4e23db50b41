#include "app/cli/udev_rule.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <ostream>

#include "app/cli/cli.h"
#include "device/channel.h"
#include "image/image_info.h"

namespace wxr::cli {

namespace {

constexpr std::size_t kIdDigits = 4;

std::optional<std::uint16_t> hex_id(std::string_view text) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.size() != kIdDigits || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string udev_rule_file_name(std::uint8_t model) {
    // As the release names its packages: the model's name, else its number.
    std::string label = to_utf8(model_name_of(model));
    if (label.empty()) label = "model" + std::to_string(model);
    for (char& c : label) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "70-wxr7305-" + label + ".rules";
}

std::string udev_local_rule_file_name(std::uint8_t model) {
    std::string name = udev_rule_file_name(model);
    return name.insert(name.size() - std::string_view(".rules").size(), "-local");
}

bool is_own_old_rule(const std::string& package_name, const std::string& text) {
    return text.rfind("# " + package_name + ": lets the logged-in user reach", 0) == 0;
}

std::optional<UsbIds> parse_usb_ids(std::string_view text) {
    UsbIds ids;
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view one = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        std::size_t colon = one.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        auto vendor = hex_id(one.substr(0, colon));
        auto product = hex_id(one.substr(colon + 1));
        if (!vendor || !product) return std::nullopt;
        ids.emplace(*vendor, *product);
    }
    return ids;
}

std::string udev_rule_text(const std::string& file_name, const UsbIds& ids) {
    if (ids.empty()) {
        return "# " + file_name + ": no rule: no device was found and this build knows no USB ids.\n"
               "# Attach the device and run this again.\n";
    }
    std::string text = "# " + file_name + ": lets the logged-in user reach these devices' hidraw nodes.\n"
                       "# A packaged rule (/usr/lib/udev/rules.d) stays in force beside it.\n";
    for (auto [vendor, product] : ids) {
        // sysfs spells the ids in lower case, and udev compares them as text.
        char line[128];
        std::snprintf(line, sizeof line,
                      "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", "
                      "TAG+=\"uaccess\"\n",
                      vendor, product);
        text += line;
    }
    return text;
}

std::optional<int> emit_udev_rule(std::uint8_t model, const UsbIds& known, const UsbIds& found,
                                  const RuleInstaller* install, std::ostream& out, std::ostream& err) {
    UsbIds ids = known;
    ids.insert(found.begin(), found.end());
    const std::string name = udev_local_rule_file_name(model);
    const std::string text = udev_rule_text(name, ids);
    if (ids.empty()) {
        if (!install) out << text << std::flush;
        return std::nullopt;
    }
    if (found.empty()) {
        err << "No device found: the rule names the " << known.size() << " USB id" << (known.size() == 1 ? "" : "s")
            << " this release knows.\n";
    }
    if (install) return (*install)(name, text);
    out << text << std::flush;
    err << "Save this as " << kUdevRulesDir << "/" << name
        << ", then run 'udevadm control --reload-rules && udevadm trigger' or replug the device;"
           " 'wxr7305 udev-rule --install' does both.\n";
    return kExitSuccess;
}

}  // namespace wxr::cli
