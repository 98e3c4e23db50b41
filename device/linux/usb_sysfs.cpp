#include "device/linux/usb_sysfs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>

namespace wxr::hidraw {

namespace fs = std::filesystem;

namespace {

struct UsbDirs {
    fs::path interface;  // holds bInterfaceNumber
    fs::path device;     // holds devpath and, when it has one, serial
};

bool is_file(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// The HID device's USB interface and device, when its parents are those.
std::optional<UsbDirs> usb_dirs_of(const fs::path& hid_device) {
    UsbDirs dirs{hid_device.parent_path(), hid_device.parent_path().parent_path()};
    if (!is_file(dirs.interface / "bInterfaceNumber") || !is_file(dirs.device / "devpath")) return std::nullopt;
    return dirs;
}

// "usb1": the root hub of bus 1.
bool is_root_hub(const fs::path& dir) {
    const std::string name = dir.filename().string();
    return name.size() > 3 && name.starts_with("usb") &&
           std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The host controller's name ("0000:00:14.0", "dummy_hcd.0"): the parent of
// the root hub above the USB device.
std::optional<std::string> bus_name_of(const fs::path& usb_device) {
    fs::path dir = usb_device.parent_path();
    for (int tier = 0; tier < kMaxHubTiers && dir.has_relative_path(); ++tier, dir = dir.parent_path()) {
        if (is_root_hub(dir)) return dir.parent_path().filename().string();
    }
    return std::nullopt;
}

// sysfs shows bInterfaceNumber in hex ("0a"); usbhid names it in decimal.
std::optional<int> interface_number(const fs::path& interface) {
    std::optional<std::string> text = read_attribute(interface / "bInterfaceNumber");
    if (!text || text->empty()) return std::nullopt;
    int number = 0;
    const char* end = text->data() + text->size();
    auto [at, error] = std::from_chars(text->data(), end, number, 16);
    if (error != std::errc{} || at != end || number > 0xFF) return std::nullopt;
    return number;
}

}  // namespace

std::optional<std::string> read_attribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kMaxAttributeBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text.substr(0, text.find('\n'));
}

std::optional<std::string> usb_phys(const fs::path& hid_device) {
    std::optional<UsbDirs> dirs = usb_dirs_of(hid_device);
    if (!dirs) return std::nullopt;
    std::optional<std::string> bus = bus_name_of(dirs->device);
    std::optional<std::string> devpath = read_attribute(dirs->device / "devpath");
    std::optional<int> number = interface_number(dirs->interface);
    if (!bus || !devpath || devpath->empty() || !number) return std::nullopt;
    return "usb-" + *bus + "-" + *devpath + "/input" + std::to_string(*number);
}

std::optional<std::string> usb_serial(const fs::path& hid_device) {
    std::optional<UsbDirs> dirs = usb_dirs_of(hid_device);
    if (!dirs) return std::nullopt;
    // No file: the device has no serial number string.
    return read_attribute(dirs->device / "serial").value_or(std::string());
}

}  // namespace wxr::hidraw
