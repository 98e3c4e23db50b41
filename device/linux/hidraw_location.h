// Where a hidraw node's device is attached and its serial number: asked of
// the open node, or else read from the HID device's uevent in sysfs,
// HID_PHYS (e.g. usb-0000:00:14.0-2/input0) and HID_UNIQ (the USB serial
// number string, empty when it has none).
#pragma once

#include <string>
#include <string_view>

namespace wxr::hidraw {

struct HidUevent {
    std::string phys;
    std::string uniq;
};

// The first HID_PHYS and HID_UNIQ lines: the kernel's own come before the
// serial number's text, which may hold lines of its own ("\nHID_PHYS=...").
HidUevent parse_hid_uevent(std::string_view text);

}  // namespace wxr::hidraw
