// A HID device's location and serial number from the sysfs attribute files of
// the USB device it belongs to. Each file holds one string, so nothing a
// device's own strings hold (its product name, its serial number) can add a
// line that is read as another string.
//
// The directories, from the HID device up:
//   .../0000:00:14.0/usb1/1-2/1-2.3/1-2.3:1.1/0003:1209:7305.0004
//   host controller, root hub, hub, USB device (devpath, serial),
//   USB interface (bInterfaceNumber), HID device.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace wxr::hidraw {

// A sysfs attribute is at most one page.
inline constexpr std::size_t kMaxAttributeBytes = 4096;
// USB nests at most five hubs below the root hub: a walk up from a USB
// device that has not met the root hub by then is not in a USB tree.
inline constexpr int kMaxHubTiers = 7;

// The file's string up to its first newline; nullopt when it cannot be read.
std::optional<std::string> read_attribute(const std::filesystem::path& file);

// Where the HID device at `hid_device` (its sysfs directory) is attached, as
// usbhid names it: "usb-" host controller "-" devpath "/input" interface
// number, e.g. "usb-0000:00:14.0-2.3/input1". nullopt when it is not on USB.
std::optional<std::string> usb_phys(const std::filesystem::path& hid_device);

// Its USB device's serial number, empty when the device has none; nullopt
// when it is not on USB.
std::optional<std::string> usb_serial(const std::filesystem::path& hid_device);

}  // namespace wxr::hidraw
