// Where a HID interface's unit is attached and its serial number string.
//
// The location is, by what the system offers:
//   1. the location path of the USB device (Windows: DEVPKEY_Device_LocationPaths,
//      e.g. PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)), the port whatever the unit;
//   2. the USB device's instance id ("USB\VID_1209&PID_7305\5&2a3b1c&0&2", the
//      port's number last when the unit has no serial number), where no
//      driver records a location path;
//   3. the interface's own device's instance id. Wine records neither a
//      location nor a USB device above its HID devices; its ids
//      ("HID\VID_1209&PID_7305&MI_00\256&WXR0000&0&0": version, serial,
//      the unit's number among those of its ids) still tell the attached units
//      apart, which is what --device needs.
#include <windows.h>
// windows.h first: the HID, SetupAPI and property headers rely on its types.
#include <initguid.h>
#include <devpkey.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include "device/channel.h"
#include "device/windows/win32_devnode.h"
#include "device/windows/win32_platform.h"

namespace wxr {

namespace {

// Location paths and serial number strings are far shorter.
constexpr DWORD kTextChars = 1024;
// Wine's HID bus needs a serial number for its instance ids and names a
// unit that has none "0000"; Windows fails the request instead.
constexpr wchar_t kWineNoSerial[] = L"0000";

std::string narrow(const std::wstring& text) { return to_utf8(std::u16string(text.begin(), text.end())); }

// The first of the device's location paths; empty when it has none.
std::wstring location_path(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t text[kTextChars] = {};
    DEVPROPTYPE type = 0;
    const DWORD bytes = sizeof text - sizeof(wchar_t);  // the list's first string stays terminated
    if (SetupDiGetDevicePropertyW(set, &device, &DEVPKEY_Device_LocationPaths, &type,
                                  reinterpret_cast<PBYTE>(text), bytes, nullptr, 0) &&
        text[0] != 0) {
        return text;
    }
    // Where the property store has no copy, the registry's may.
    DWORD kind = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_LOCATION_PATHS, &kind, reinterpret_cast<PBYTE>(text),
                                          bytes, nullptr)) {
        return text;
    }
    return {};
}

}  // namespace

bool running_on_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Win32Hid::location(const DevicePath& path) {
    std::wstring found, usb, own;
    walk_up_from(path, [&](HDEVINFO set, SP_DEVINFO_DATA& device, int level) {
        found = location_path(set, device);
        if (!found.empty()) return true;
        std::wstring id = instance_id_of(set, device);
        if (level == 0) own = id;
        if (usb.empty() && is_usb_device_id(id)) usb = id;
        return false;
    });
    return narrow(!found.empty() ? found : !usb.empty() ? usb : own);
}

std::string Win32Hid::serial_number(const DevicePath& path) {
    std::wstring wide(path.begin(), path.end());
    // No access asked: the HID class answers string requests on such a handle.
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    wchar_t text[kTextChars] = {};
    const bool known = HidD_GetSerialNumberString(file, text, sizeof text - sizeof(wchar_t));
    CloseHandle(file);
    if (!known || (std::wstring(text) == kWineNoSerial && running_on_wine())) return {};
    return narrow(text);
}

}  // namespace wxr
