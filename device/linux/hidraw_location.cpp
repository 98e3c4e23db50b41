#include "device/linux/hidraw_location.h"

#include <algorithm>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"

namespace wxr::hidraw {

namespace {

// "/dev/hidraw3" -> "hidraw3"; empty for anything that is not a plain node name.
std::string node_name_of(const DevicePath& path) {
    std::string text = to_utf8(path);
    std::string name = text.substr(text.find_last_of('/') + 1);
    if (name.empty() || name == "." || name == "..") return {};
    return name;
}

// The value of the first line starting with `key`, if any.
void take_first(std::string_view line, std::string_view key, std::string& value, bool& seen) {
    if (seen || !line.starts_with(key)) return;
    value = line.substr(key.size());
    seen = true;
}

}  // namespace

HidUevent parse_hid_uevent(std::string_view text) {
    HidUevent out;
    bool phys = false;
    bool uniq = false;
    while (!text.empty()) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        take_first(line, "HID_PHYS=", out.phys, phys);
        take_first(line, "HID_UNIQ=", out.uniq, uniq);
    }
    return out;
}

std::string HidrawPlatform::location(const DevicePath& path) { return device_text(path, RawText::Phys); }

std::string HidrawPlatform::serial_number(const DevicePath& path) { return device_text(path, RawText::Uniq); }

std::string HidrawPlatform::instance(const DevicePath& path) {
    const std::string name = node_name_of(path);
    std::string device;
    return !name.empty() && io_->hid_device_name(name, device) >= 0 ? device : std::string();
}

// The open node tells the kernel's own text, whatever the device's strings
// hold; a held path lends its kept descriptor, so a run pays no extra open.
std::string HidrawPlatform::device_text(const DevicePath& path, RawText which) {
    std::string text;
    if (HidHandle handle = open(path); handle != kNoHandle) {
        auto node = node_of(handle);
        // No device I/O behind it: nothing to wait for, nothing to retry.
        const bool told = node && io_->raw_text(node->fd, which, text) >= 0;
        close(handle);
        if (told) return text;
    }
    const std::string name = node_name_of(path);
    std::string uevent;
    if (name.empty() || io_->hid_uevent(name, uevent) < 0) return {};
    HidUevent found = parse_hid_uevent(uevent);
    return which == RawText::Phys ? found.phys : found.uniq;
}

}  // namespace wxr::hidraw
