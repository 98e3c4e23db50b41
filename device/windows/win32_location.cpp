// Where a HID interface's device is attached (its location path, e.g.
// PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)) and its serial number string.
#include <windows.h>
// windows.h first: the HID, SetupAPI and configuration manager headers rely on its types.
#include <cfgmgr32.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include "device/channel.h"
#include "device/windows/win32_platform.h"

namespace wxr {

namespace {

// The HID collection, the HID device, the USB interface, the USB device: the
// location paths sit on one of those near the top.
constexpr int kMaxLevelsUp = 4;
// Location paths and serial number strings are far shorter.
constexpr ULONG kTextChars = 1024;

std::string narrow(const wchar_t* text) {
    return to_utf8(std::u16string(reinterpret_cast<const char16_t*>(text)));
}

// The device node behind an interface path; 0 when it cannot be had.
DEVINST node_of(const DevicePath& path) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return 0;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    std::wstring wide(path.begin(), path.end());
    DEVINST node = 0;
    if (SetupDiOpenDeviceInterfaceW(set, wide.c_str(), 0, &iface)) {
        // Fails for want of a detail buffer, but fills the device's info.
        SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, nullptr, &info);
        node = info.DevInst;
    }
    SetupDiDestroyDeviceInfoList(set);
    return node;
}

}  // namespace

std::string Win32Hid::location(const DevicePath& path) {
    DEVINST node = node_of(path);
    for (int level = 0; node != 0 && level < kMaxLevelsUp; ++level) {
        wchar_t text[kTextChars] = {};
        ULONG bytes = sizeof text - sizeof(wchar_t);  // the first of the paths, terminated
        if (CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, nullptr, text, &bytes, 0) == CR_SUCCESS &&
            text[0] != 0) {
            return narrow(text);
        }
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
        node = parent;
    }
    return {};
}

std::string Win32Hid::serial_number(const DevicePath& path) {
    std::wstring wide(path.begin(), path.end());
    // No access asked: the HID class answers string requests on such a handle.
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    wchar_t text[kTextChars] = {};
    bool known = HidD_GetSerialNumberString(file, text, sizeof text - sizeof(wchar_t));
    CloseHandle(file);
    return known ? narrow(text) : std::string();
}

}  // namespace wxr
