// Where a hidraw node's device is attached and its serial number, from the
// HID device's uevent in sysfs: HID_PHYS (e.g. usb-0000:00:14.0-2/input0)
// and HID_UNIQ (the USB serial number string, empty when it has none).
#pragma once

#include <string>
#include <string_view>

namespace wxr::hidraw {

inline constexpr char kSysfsHidrawDir[] = "/sys/class/hidraw";

struct HidUevent {
    std::string phys;
    std::string uniq;
};

HidUevent parse_hid_uevent(std::string_view text);

// The uevent of node `node_name` (hidraw3) under `class_dir`; empty fields
// when it cannot be read.
HidUevent read_hid_uevent(const std::string& class_dir, const std::string& node_name);

}  // namespace wxr::hidraw
