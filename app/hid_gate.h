// A HidPlatform that can be shut: once shut, nothing new can be opened or
// enumerated, while operations on handles already open go through. The
// dialog shuts it when it ends, so that an upgrade the user chose to abandon
// stops at its next open instead of writing on unseen.
#pragma once

#include <atomic>

#include "device/forwarding_hid.h"

namespace wxr::app {

class HidGate final : public ForwardingHid {
public:
    using ForwardingHid::ForwardingHid;

    void shut() { shut_.store(true); }
    bool is_shut() const { return shut_.load(); }

    std::optional<std::vector<DevicePath>> enumerate() override;
    HidHandle open(const DevicePath& path) override;

private:
    std::atomic<bool> shut_{false};
};

}  // namespace wxr::app
