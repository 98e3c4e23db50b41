// Report descriptors of the HID devices that the virtual machine test creates
// through uhid: a mouse-like input collection beside a vendor collection
// holding feature report 5.
#pragma once

#include <array>
#include <cstdint>

namespace wxr::vm {

// Mouse (report 1: three buttons, padding, X, Y) and a vendor collection with
// feature report 5 of `data_bytes` bytes.
template <std::uint8_t data_bytes>
inline constexpr std::array<std::uint8_t, 75> kMouseAndVendorDescriptor = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x02,        // Usage (Mouse)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID (1)
    0x09, 0x01,        //   Usage (Pointer)
    0xA1, 0x00,        //   Collection (Physical)
    0x05, 0x09,        //     Usage Page (Button)
    0x19, 0x01,        //     Usage Minimum (1)
    0x29, 0x03,        //     Usage Maximum (3)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x95, 0x03,        //     Report Count (3)
    0x75, 0x01,        //     Report Size (1)
    0x81, 0x02,        //     Input (Data, Var, Abs)
    0x95, 0x01,        //     Report Count (1)
    0x75, 0x05,        //     Report Size (5)
    0x81, 0x03,        //     Input (Const): padding
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x09, 0x30,        //     Usage (X)
    0x09, 0x31,        //     Usage (Y)
    0x15, 0x81,        //     Logical Minimum (-127)
    0x25, 0x7F,        //     Logical Maximum (127)
    0x75, 0x08,        //     Report Size (8)
    0x95, 0x02,        //     Report Count (2)
    0x81, 0x06,        //     Input (Data, Var, Rel)
    0xC0,              //   End Collection
    0xC0,              // End Collection
    0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x05,        //   Report ID (5)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, data_bytes,  //   Report Count
    0x09, 0x01,        //   Usage (1)
    0xB1, 0x02,        //   Feature (Data, Var, Abs)
    0xC0,              // End Collection
};

// Feature report 5 of 20 data bytes: a 21-byte interface, the device to upgrade.
inline constexpr auto& kUpgradableDescriptor = kMouseAndVendorDescriptor<20>;
// 21 data bytes: a 22-byte interface that discovery must leave alone.
inline constexpr auto& kOtherLengthDescriptor = kMouseAndVendorDescriptor<21>;

}  // namespace wxr::vm
