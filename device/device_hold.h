// One run on one device (the query and the upgrade procedure after it): the
// backend may keep the interface open across the run's opens and closes,
// which still happen one per report as before.
#pragma once

#include <utility>
#include <vector>

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
    DeviceHold& operator=(DeviceHold&& other) noexcept {
        if (this != &other) {
            if (channel_) channel_->release(path_);
            channel_ = std::exchange(other.channel_, nullptr);
            path_ = std::move(other.path_);
        }
        return *this;
    }
    const DevicePath& path() const { return path_; }

private:
    DeviceChannel* channel_;
    DevicePath path_;
};

using DeviceHolds = std::vector<DeviceHold>;

// Every interface present, held across a discovery pass so that the one it
// lists keeps its descriptor into the run: opening a USB unit afresh costs
// usbhid 50 ms. Drop the others once the run holds its own.
inline DeviceHolds hold_present(DeviceChannel& channel) {
    DeviceHolds holds;
    for (const DevicePath& path : channel.present_paths()) holds.emplace_back(channel, path);
    return holds;
}

}  // namespace wxr
