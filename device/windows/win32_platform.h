// The Windows backend of the device seam: the HID class and SetupAPI for the
// interfaces, a kernel mutex for the named lock, the keyboard for Shift.
// The Windows headers stay inside the .cpp files.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "device/hid_platform.h"
#include "device/report_fit.h"  // fit_feature_report, which the channel applies

namespace wxr {

class Win32Hid final : public HidPlatform {
public:
    struct OpenInterface;  // what a HidHandle points at

    Win32Hid();
    ~Win32Hid() override;

    std::optional<std::vector<DevicePath>> enumerate() override;
    HidHandle open(const DevicePath& path) override;
    bool capabilities(HidHandle device, HidCapabilities& caps) override;
    bool attributes(HidHandle device, HidAttributes& attrs) override;
    bool get_feature(HidHandle device, std::span<std::uint8_t> report) override;
    bool set_feature(HidHandle device, std::span<const std::uint8_t> report) override;
    void close(HidHandle device) override;
    // A held path's FeatureReportByteLength is read once for the run, not
    // once per handle; every report still opens and closes its own handle.
    void hold(const DevicePath& path) override;
    void release(const DevicePath& path) override;
    // The system's records (win32_location.cpp).
    std::string location(const DevicePath& path) override;
    std::string serial_number(const DevicePath& path) override;
    // A kernel mutex per unit, shared by every session (win32_claim.cpp).
    bool claim(const DevicePath& path) override;
    void unclaim(const DevicePath& path) override;
    std::size_t interfaces_in_use() const override;

private:
    class UnitHolder;

    struct Held {
        int holds = 0;
        std::optional<std::uint16_t> feature_length;
    };

    // FeatureReportByteLength of the handle's interface (HidD_GetPreparsedData
    // and HidP_GetCaps on first use, unless its held path knows it).
    bool feature_length(OpenInterface& device, std::uint16_t& length);
    // A failed operation: a held path's length is read afresh next time.
    void forget_length(const DevicePath& held_path);
    // The unit's mutex name, looked up once per path.
    std::wstring mutex_name(const DevicePath& path);
    // Another program has claimed the unit (counted for interfaces_in_use).
    bool in_use_elsewhere(const DevicePath& path);

    mutable std::mutex mutex_;
    std::map<DevicePath, Held> held_;
    std::map<DevicePath, std::unique_ptr<UnitHolder>> claims_;  // nullptr: claimed without a lock
    std::map<DevicePath, std::wstring> mutex_names_;
    std::set<DevicePath> in_use_;  // refused since the last enumerate()
};

// Wine says so through ntdll; some of its answers need reading differently.
bool running_on_wine();

class Win32NamedMutexFactory final : public NamedMutexFactory {
public:
    std::unique_ptr<NamedMutex> create(const std::u16string& name) override;
};

class Win32ShiftKeyState final : public ShiftKeyState {
public:
    bool pressed_since_last_query() override;
};

}  // namespace wxr
