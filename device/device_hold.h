// One run on one device (the query and the upgrade procedure after it): the
// backend may keep the interface open across the run's opens and closes,
// which still happen one per report as before.
#pragma once

#include <utility>

#include "device/channel.h"

namespace wxr {

class DeviceHold {
public:
    DeviceHold(DeviceChannel& channel, DevicePath path) : channel_(&channel), path_(std::move(path)) {
        channel_->hold(path_);
    }
    ~DeviceHold() {
        if (channel_) channel_->release(path_);
    }
    DeviceHold(DeviceHold&& other) noexcept
        : channel_(std::exchange(other.channel_, nullptr)), path_(std::move(other.path_)) {}
    DeviceHold(const DeviceHold&) = delete;
    DeviceHold& operator=(const DeviceHold&) = delete;
    DeviceHold& operator=(DeviceHold&&) = delete;

private:
    DeviceChannel* channel_;
    DevicePath path_;
};

}  // namespace wxr
