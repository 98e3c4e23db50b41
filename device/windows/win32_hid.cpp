// HID interfaces through SetupAPI and the HID class driver.
#include <windows.h>
// windows.h first: the HID and SetupAPI headers rely on its types.
#include <setupapi.h>
// mingw-w64's hidsdi.h declares C functions without a C++ guard.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <vector>

#include "device/windows/win32_platform.h"

namespace wxr {

namespace {

std::wstring to_wide(const DevicePath& path) { return std::wstring(path.begin(), path.end()); }

// The interface detail of one member of the set; nullopt when it cannot be had.
std::optional<DevicePath> interface_path(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return std::nullopt;
    // DWORD storage keeps the record's alignment.
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);  // the fixed part only
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, nullptr)) {
        return std::nullopt;
    }
    const wchar_t* path = detail->DevicePath;
    return DevicePath(path, path + wcslen(path));
}

bool read_caps(HANDLE file, HIDP_CAPS& caps) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(file, &preparsed)) return false;
    const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
    HidD_FreePreparsedData(preparsed);
    return status == HIDP_STATUS_SUCCESS;
}

}  // namespace

// What the backend keeps for one opened interface; HidHandle points at it.
struct Win32Hid::OpenInterface {
    HANDLE file = INVALID_HANDLE_VALUE;
    // FeatureReportByteLength of this handle's interface: read once per
    // handle, or once per run while the path is held. A path may lead to
    // another device after an unplug, which fails an operation first.
    std::optional<std::uint16_t> feature_length;
    DevicePath held_path;  // empty unless the path was held when opened
};

namespace {
Win32Hid::OpenInterface* from_handle(HidHandle device) {
    return reinterpret_cast<Win32Hid::OpenInterface*>(device);
}
}  // namespace

bool Win32Hid::feature_length(OpenInterface& device, std::uint16_t& length) {
    if (!device.feature_length) {
        HIDP_CAPS caps{};
        if (!read_caps(device.file, caps)) {
            forget_length(device.held_path);
            return false;
        }
        device.feature_length = caps.FeatureReportByteLength;
        std::lock_guard lock(mutex_);
        if (auto held = held_.find(device.held_path); !device.held_path.empty() && held != held_.end()) {
            held->second.feature_length = device.feature_length;
        }
    }
    length = *device.feature_length;
    return true;
}

void Win32Hid::forget_length(const DevicePath& held_path) {
    if (held_path.empty()) return;
    std::lock_guard lock(mutex_);
    if (auto held = held_.find(held_path); held != held_.end()) held->second.feature_length.reset();
}

void Win32Hid::hold(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    ++held_[path].holds;
}

void Win32Hid::release(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    auto held = held_.find(path);
    if (held != held_.end() && --held->second.holds <= 0) held_.erase(held);
}

std::optional<std::vector<DevicePath>> Win32Hid::enumerate() {
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);
    {
        std::lock_guard lock(mutex_);
        in_use_.clear();
    }
    const HDEVINFO set =
        SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return std::nullopt;

    std::vector<DevicePath> paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        // ERROR_NO_MORE_ITEMS is the normal end; any other failure ends the walk too.
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &iface)) break;
        if (auto path = interface_path(set, iface)) paths.push_back(std::move(*path));
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

HidHandle Win32Hid::open(const DevicePath& path) {
    // No access rights are asked for: feature reports need none, and an
    // interface that another program (or the system, for keyboards and mice)
    // holds open can still be opened this way.
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = TRUE;
    if (in_use_elsewhere(path)) return kNoHandle;
    const std::wstring wide = to_wide(path);
    const HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        forget_length(path);
        return kNoHandle;
    }
    auto* device = new OpenInterface{file, std::nullopt, {}};
    std::lock_guard lock(mutex_);
    if (auto held = held_.find(path); held != held_.end()) {
        device->held_path = path;
        device->feature_length = held->second.feature_length;
    }
    return reinterpret_cast<HidHandle>(device);
}

bool Win32Hid::capabilities(HidHandle device, HidCapabilities& caps) {
    OpenInterface* open = from_handle(device);
    return open != nullptr && feature_length(*open, caps.feature_report_length);
}

bool Win32Hid::attributes(HidHandle device, HidAttributes& attrs) {
    OpenInterface* open = from_handle(device);
    if (open == nullptr) return false;
    HIDD_ATTRIBUTES found{};
    found.Size = sizeof(found);
    if (!HidD_GetAttributes(open->file, &found)) return false;
    attrs.vendor_id = found.VendorID;
    attrs.product_id = found.ProductID;
    attrs.version = found.VersionNumber;
    return true;
}

bool Win32Hid::get_feature(HidHandle device, std::span<std::uint8_t> report) {
    OpenInterface* open = from_handle(device);
    if (open == nullptr || report.empty()) return false;
    // The class driver wants room for the whole feature report; a caller
    // that asks for fewer bytes gets the first ones.
    std::uint16_t length = 0;
    feature_length(*open, length);
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(report.size(), length), 0);
    buffer[0] = report[0];
    if (!HidD_GetFeature(open->file, buffer.data(), static_cast<ULONG>(buffer.size()))) {
        forget_length(open->held_path);
        return false;
    }
    std::copy_n(buffer.begin(), report.size(), report.begin());
    return true;
}

bool Win32Hid::set_feature(HidHandle device, std::span<const std::uint8_t> report) {
    OpenInterface* open = from_handle(device);
    if (open == nullptr || report.empty()) return false;
    // The channel has fitted the report to FeatureReportByteLength, as
    // HidD_SetFeature wants it.
    std::vector<std::uint8_t> buffer(report.begin(), report.end());
    if (HidD_SetFeature(open->file, buffer.data(), static_cast<ULONG>(buffer.size()))) return true;
    forget_length(open->held_path);
    return false;
}

void Win32Hid::close(HidHandle device) {
    OpenInterface* open = from_handle(device);
    if (open == nullptr) return;
    CancelIo(open->file);
    CloseHandle(open->file);
    delete open;
}

}  // namespace wxr
