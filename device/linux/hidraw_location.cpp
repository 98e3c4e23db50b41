#include "device/linux/hidraw_location.h"

#include <fstream>
#include <algorithm>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"

namespace wxr::hidraw {

namespace {

// A uevent is a few hundred bytes; more is not one.
constexpr std::size_t kMaxUeventBytes = 16384;

// "/dev/hidraw3" -> "hidraw3"; empty for anything that is not a plain node name.
std::string node_name_of(const DevicePath& path) {
    std::string text = to_utf8(path);
    std::string name = text.substr(text.find_last_of('/') + 1);
    if (name.empty() || name == "." || name == "..") return {};
    return name;
}

}  // namespace

HidUevent parse_hid_uevent(std::string_view text) {
    HidUevent out;
    while (!text.empty()) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        if (line.starts_with("HID_PHYS=")) out.phys = line.substr(9);
        if (line.starts_with("HID_UNIQ=")) out.uniq = line.substr(9);
    }
    return out;
}

HidUevent read_hid_uevent(const std::string& class_dir, const std::string& node_name) {
    if (node_name.empty()) return {};
    std::ifstream in(class_dir + "/" + node_name + "/device/uevent", std::ios::binary);
    if (!in) return {};
    std::string text(kMaxUeventBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parse_hid_uevent(text);
}

std::string HidrawPlatform::location(const DevicePath& path) {
    return read_hid_uevent(kSysfsHidrawDir, node_name_of(path)).phys;
}

std::string HidrawPlatform::serial_number(const DevicePath& path) {
    return read_hid_uevent(kSysfsHidrawDir, node_name_of(path)).uniq;
}

}  // namespace wxr::hidraw
