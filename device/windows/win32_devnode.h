// The device behind a HID interface path and the devices above it (the HID
// device, the USB interface, the USB device), as SetupAPI records. Windows
// headers: for the backend's .cpp files only.
#pragma once

#include <windows.h>
// windows.h first: the SetupAPI header relies on its types.
#include <setupapi.h>

#include <functional>
#include <string>

#include "device/hid_platform.h"

namespace wxr {

// Hands the interface's device, then each device above it, to `look` while
// its record is open (wine's device handles last only as long as their
// set), until look returns true or the top is reached. Level 0 is the
// interface's own device.
using DeviceLook = std::function<bool(HDEVINFO set, SP_DEVINFO_DATA& device, int level)>;
void walk_up_from(const DevicePath& path, const DeviceLook& look);

// "USB\VID_1209&PID_7305\WXR0000"; empty when it cannot be had.
std::wstring instance_id_of(HDEVINFO set, SP_DEVINFO_DATA& device);

// Whether the instance id is a USB device's ("USB\VID_...", not a USB
// interface's "...&MI_00...").
bool is_usb_device_id(const std::wstring& id);

// The unit behind the interface, as the system names it: the id of the USB
// device it belongs to, else (wine, which links its HID devices to no USB
// device) the id of the interface's own device. Empty when neither can be had.
std::wstring unit_instance_id(const DevicePath& path);

}  // namespace wxr
