// Where a hidraw node's device is attached and its serial number: asked of
// the open node, or else read from the sysfs attribute files of its USB
// device (usb_sysfs.h). Never from the HID device's uevent, where the kernel
// writes the device's product name before them: a name holding
// "\nHID_UNIQ=..." would set the serial number.
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

}  // namespace

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
    if (name.empty() || io_->sysfs_text(name, which, text) < 0) return {};
    return text;
}

}  // namespace wxr::hidraw
