// The Linux HID backend: hidraw nodes, one per HID interface.
//
// A hidraw node covers every top-level collection of its interface, while the
// device channel expects one interface per collection. The node's feature
// report length is therefore that of the top-level collection declaring
// report 5, and a write sends exactly that many bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/hid_descriptor.h"
#include "device/hid_platform.h"
#include "device/linux/hidraw_io.h"

namespace wxr::hidraw {

class HidrawPlatform final : public HidPlatform {
public:
    explicit HidrawPlatform(std::unique_ptr<HidrawIo> io = std::make_unique<SystemHidrawIo>(),
                            std::string dev_dir = "/dev");

    std::optional<std::vector<DevicePath>> enumerate() override;
    HidHandle open(const DevicePath& path) override;
    bool capabilities(HidHandle device, HidCapabilities& caps) override;
    bool attributes(HidHandle device, HidAttributes& attrs) override;
    bool get_feature(HidHandle device, std::span<std::uint8_t> report) override;
    bool set_feature(HidHandle device, std::span<const std::uint8_t> report) override;
    void close(HidHandle device) override;
    // From sysfs (hidraw_location.cpp).
    std::string location(const DevicePath& path) override;
    std::string serial_number(const DevicePath& path) override;

    // Interfaces refused for lack of permission (EACCES, EPERM) since the
    // last enumerate(): nodes the user cannot open need a udev rule.
    std::size_t permission_denied_count() const;
    std::size_t inaccessible_interfaces() const override { return permission_denied_count(); }

private:
    struct OpenNode {
        int fd = -1;
        // Parsed on first need and dropped on close: the next open may find
        // another device behind the same node name.
        std::optional<std::vector<hid::TopLevelCollection>> collections;
    };

    std::optional<int> fd_of(HidHandle device) const;
    // The feature report length of the collection declaring `report_id`;
    // nullopt when the descriptor cannot be had.
    std::optional<std::uint16_t> feature_length(HidHandle device, std::uint8_t report_id);

    std::unique_ptr<HidrawIo> io_;
    std::string dev_dir_;
    mutable std::mutex mutex_;
    std::map<HidHandle, OpenNode> open_;
    HidHandle next_handle_ = 1;
    std::set<std::string> denied_;
};

}  // namespace wxr::hidraw
