// The Windows backend of the device seam: the HID class and SetupAPI for the
// interfaces, a kernel mutex for the named lock, the keyboard for Shift.
// The Windows headers stay inside the .cpp files.
#pragma once

#include "device/hid_platform.h"
#include "device/report_fit.h"  // fit_feature_report, which the channel applies

namespace wxr {

class Win32Hid final : public HidPlatform {
public:
    struct OpenInterface;  // what a HidHandle points at

    std::optional<std::vector<DevicePath>> enumerate() override;
    HidHandle open(const DevicePath& path) override;
    bool capabilities(HidHandle device, HidCapabilities& caps) override;
    bool attributes(HidHandle device, HidAttributes& attrs) override;
    bool get_feature(HidHandle device, std::span<std::uint8_t> report) override;
    bool set_feature(HidHandle device, std::span<const std::uint8_t> report) override;
    void close(HidHandle device) override;
    // The system's records (win32_location.cpp).
    std::string location(const DevicePath& path) override;
    std::string serial_number(const DevicePath& path) override;

private:
    // FeatureReportByteLength of the handle's interface (HidD_GetPreparsedData
    // and HidP_GetCaps on first use).
    static bool feature_length(OpenInterface& device, std::uint16_t& length);
};

class Win32NamedMutexFactory final : public NamedMutexFactory {
public:
    std::unique_ptr<NamedMutex> create(const std::u16string& name) override;
};

class Win32ShiftKeyState final : public ShiftKeyState {
public:
    bool pressed_since_last_query() override;
};

}  // namespace wxr
