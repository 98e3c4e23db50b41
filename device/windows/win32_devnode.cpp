#include "device/windows/win32_devnode.h"

#include <cfgmgr32.h>
extern "C" {
#include <hidsdi.h>
}

#include <vector>

namespace wxr {

namespace {

// The HID collection, the HID device, the USB interface, the USB device: what
// is looked for sits on one of those.
constexpr int kMaxLevelsUp = 4;

// Finds the interface's own device among the present HID interfaces of
// `set`. (Wine does not open a single interface into an empty set, and
// paths differ in case between its listings: they are compared without it.)
bool find_interface_device(HDEVINFO set, const GUID& hid_guid, const DevicePath& path, SP_DEVINFO_DATA& device) {
    const std::wstring wanted(path.begin(), path.end());
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &iface)) return false;
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        // DWORD storage keeps the record's alignment.
        std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        device.cbSize = sizeof device;
        if (SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, &device) &&
            CompareStringOrdinal(detail->DevicePath, -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
}

// Opens the device above `device` in `set`.
bool open_parent(HDEVINFO set, const SP_DEVINFO_DATA& device, SP_DEVINFO_DATA& parent) {
    DEVINST node = 0;
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Parent(&node, device.DevInst, 0) != CR_SUCCESS ||
        CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return false;
    }
    parent.cbSize = sizeof parent;
    return SetupDiOpenDeviceInfoW(set, id, nullptr, 0, &parent) != FALSE;
}

}  // namespace

void walk_up_from(const DevicePath& path, const DeviceLook& look) {
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);
    HDEVINFO set = SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    if (find_interface_device(set, hid_guid, path, device)) {
        for (int level = 0; level <= kMaxLevelsUp && !look(set, device, level); ++level) {
            SP_DEVINFO_DATA parent{};
            if (!open_parent(set, device, parent)) break;
            device = parent;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

std::wstring instance_id_of(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr)) return {};
    return id;
}

bool is_usb_device_id(const std::wstring& id) {
    return id.rfind(L"USB\\", 0) == 0 && id.find(L"&MI_") == std::wstring::npos;
}

std::wstring unit_instance_id(const DevicePath& path) {
    std::wstring own, usb;
    walk_up_from(path, [&](HDEVINFO set, SP_DEVINFO_DATA& device, int level) {
        std::wstring id = instance_id_of(set, device);
        if (level == 0) own = id;
        if (is_usb_device_id(id)) usb = id;
        return !usb.empty();
    });
    return usb.empty() ? own : usb;
}

}  // namespace wxr
