// The demo executables' device: one simulated interface that matches the
// embedded image (model 16, sensor 3), paced like a real one so that a
// person can watch the bar move. Shared by the Qt and the Win32 demos.
#pragma once

#include <chrono>
#include <thread>

#include "device/hid_platform.h"
#include "device/sim/sim_hid.h"

namespace wxr::app {

// The simulated device answers at once; a real one takes about a millisecond
// per report over USB.
inline constexpr auto kDemoReportTime = std::chrono::microseconds(1000);

class PacedHid final : public HidPlatform {
public:
    explicit PacedHid(HidPlatform& inner) : inner_(inner) {}

    std::optional<std::vector<DevicePath>> enumerate() override { return inner_.enumerate(); }
    HidHandle open(const DevicePath& path) override { return inner_.open(path); }
    bool capabilities(HidHandle device, HidCapabilities& caps) override {
        return inner_.capabilities(device, caps);
    }
    bool attributes(HidHandle device, HidAttributes& attrs) override { return inner_.attributes(device, attrs); }
    bool get_feature(HidHandle device, std::span<std::uint8_t> report) override {
        std::this_thread::sleep_for(kDemoReportTime);
        return inner_.get_feature(device, report);
    }
    bool set_feature(HidHandle device, std::span<const std::uint8_t> report) override {
        std::this_thread::sleep_for(kDemoReportTime);
        return inner_.set_feature(device, report);
    }
    void close(HidHandle device) override { inner_.close(device); }

private:
    HidPlatform& inner_;
};

// Adds the one interface the demos upgrade.
inline void add_demo_interface(sim::SimHid& device) {
    device.add_interface({.path = u"sim:WXR7305", .identity = {.version = 57, .model = 16, .sensor = 3}});
}

}  // namespace wxr::app
