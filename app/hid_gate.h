// A HidPlatform that can be shut: once shut, nothing new can be opened or
// enumerated, while operations on handles already open go through. The
// dialog shuts it when it ends, so that an upgrade the user chose to abandon
// stops at its next open instead of writing on unseen.
#pragma once

#include <atomic>

#include "device/hid_platform.h"

namespace wxr::app {

class HidGate final : public HidPlatform {
public:
    explicit HidGate(HidPlatform& inner) : inner_(inner) {}

    void shut() { shut_.store(true); }
    bool is_shut() const { return shut_.load(); }

    std::optional<std::vector<DevicePath>> enumerate() override;
    HidHandle open(const DevicePath& path) override;
    bool capabilities(HidHandle device, HidCapabilities& caps) override;
    bool attributes(HidHandle device, HidAttributes& attrs) override;
    bool get_feature(HidHandle device, std::span<std::uint8_t> report) override;
    bool set_feature(HidHandle device, std::span<const std::uint8_t> report) override;
    void close(HidHandle device) override;
    std::size_t inaccessible_interfaces() const override { return inner_.inaccessible_interfaces(); }

private:
    HidPlatform& inner_;
    std::atomic<bool> shut_{false};
};

}  // namespace wxr::app
