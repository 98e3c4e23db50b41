// A run's claim on its unit (see HidPlatform::claim): taken before the run's
// first request to the unit and kept until its write has ended, so that a
// station service, a desktop user's dialog and a second command line never
// write one unit at once. A unit another program has is waited for briefly,
// then refused.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "device/channel.h"

namespace wxr {

// Long enough for another program's probe or query of the unit (a few
// exchanges of 50 ms), far shorter than its write, which is not waited for.
inline constexpr std::uint32_t kClaimWaitMs = 2000;
// Between tries.
inline constexpr std::uint32_t kClaimRetryMs = 100;

class UnitClaim {
public:
    // Tries until claimed, `wait_ms` have passed on the channel's clock, or
    // give_up() holds (Ctrl-C); an empty claim when refused.
    static UnitClaim take(DeviceChannel& channel, const DevicePath& path, std::uint32_t wait_ms = kClaimWaitMs,
                          const std::function<bool()>& give_up = {}) {
        const std::uint64_t start = channel.clock().now_ms();
        while (!channel.claim(path)) {
            if ((give_up && give_up()) || channel.clock().now_ms() - start >= wait_ms) return UnitClaim();
            channel.clock().sleep_ms(kClaimRetryMs);
        }
        return UnitClaim(channel, path);
    }

    UnitClaim() = default;
    ~UnitClaim() {
        if (channel_) channel_->unclaim(path_);
    }
    UnitClaim(UnitClaim&& other) noexcept
        : channel_(std::exchange(other.channel_, nullptr)), path_(std::move(other.path_)) {}
    UnitClaim& operator=(UnitClaim&& other) noexcept {
        if (this != &other) {
            if (channel_) channel_->unclaim(path_);
            channel_ = std::exchange(other.channel_, nullptr);
            path_ = std::move(other.path_);
        }
        return *this;
    }
    UnitClaim(const UnitClaim&) = delete;
    UnitClaim& operator=(const UnitClaim&) = delete;

    explicit operator bool() const { return channel_ != nullptr; }

private:
    UnitClaim(DeviceChannel& channel, DevicePath path) : channel_(&channel), path_(std::move(path)) {}

    DeviceChannel* channel_ = nullptr;
    DevicePath path_;
};

}  // namespace wxr
