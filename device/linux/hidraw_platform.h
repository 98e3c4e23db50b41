// The Linux HID backend: hidraw nodes, one per HID interface.
//
// A hidraw node covers every top-level collection of its interface, while the
// device channel expects one interface per collection. The node's feature
// report length is therefore that of the top-level collection declaring
// report 5; the channel fits every write to it.
//
// Opening the node of a USB device costs usbhid a 50 ms sleep when nobody
// else has it open, and a run opens it around every report. While a path is
// held (HidPlatform::hold), its descriptor therefore stays open from one
// handle to the next: open() lends it out again when the path still leads to
// the same node, and close() keeps it. A failed operation, or the end of the
// hold, closes it for real, so that the next open opens afresh.
//
// A claim (hidraw_claim.cpp) is an exclusive flock on a descriptor of its
// own, held for the run; every other descriptor takes a shared flock while
// a handle uses it, unless this process has claimed the unit. flock belongs
// to the open file, so it excludes other programs of any user that can open
// the node, and the kernel drops it when its holder ends, however it ends.
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
    void hold(const DevicePath& path) override;
    void release(const DevicePath& path) override;
    // From the open node, or else sysfs (hidraw_location.cpp).
    std::string location(const DevicePath& path) override;
    std::string serial_number(const DevicePath& path) override;
    std::string instance(const DevicePath& path) override;

    // Interfaces refused for lack of permission (EACCES, EPERM) since the
    // last enumerate(): nodes the user cannot open need a udev rule.
    std::size_t permission_denied_count() const;
    std::size_t inaccessible_interfaces() const override { return permission_denied_count(); }
    bool claim(const DevicePath& path) override;
    void unclaim(const DevicePath& path) override;
    std::size_t interfaces_in_use() const override;

private:
    // One open descriptor; a held path lends it to one handle at a time.
    struct NodeFd {
        int fd = -1;
        std::string file;
        // The node's feature report length, read once per descriptor.
        std::optional<std::uint16_t> feature_length;
        bool failed = false;  // an operation on it failed: closed with its handle
    };
    struct OpenNode {
        std::shared_ptr<NodeFd> node;
        std::string held_path;  // empty unless the descriptor is a held path's
    };
    struct Held {
        int holds = 0;
        bool lent = false;             // a handle uses the descriptor now
        std::shared_ptr<NodeFd> idle;  // kept between handles
    };

    std::shared_ptr<NodeFd> node_of(HidHandle device) const;
    std::string device_text(const DevicePath& path, RawText which);
    // The held path's descriptor for a new handle: false when the path is not
    // held or its descriptor is in use; `kept` is empty when none is kept.
    bool lend(const std::string& file, std::shared_ptr<NodeFd>& kept);
    // Ends a lend (mutex held): keeps `node` for the next handle while the
    // path is held, and returns what the caller must close.
    std::shared_ptr<NodeFd> give_back(const std::string& file, std::shared_ptr<NodeFd> node);
    std::shared_ptr<NodeFd> open_node(const std::string& file);
    // A descriptor of the node in any mode the user may open it in; -errno when none.
    int open_fd(const std::string& file);
    // The shared lock for a handle's use, unless this process has claimed
    // the unit: false (and counted) when another program has claimed it.
    bool share(NodeFd& node);
    void mark_failed(NodeFd& node);
    // nullopt when the descriptor cannot be had or parsed.
    std::optional<std::uint16_t> feature_length(NodeFd& node);

    std::unique_ptr<HidrawIo> io_;
    std::string dev_dir_;
    mutable std::mutex mutex_;
    std::map<HidHandle, OpenNode> open_;
    std::map<std::string, Held> held_;
    HidHandle next_handle_ = 1;
    std::set<std::string> denied_;
    std::map<std::string, int> claims_;  // the claim's own descriptor; -1 when nothing could be locked
    std::set<std::string> in_use_;       // refused since the last enumerate(): claimed elsewhere
};

}  // namespace wxr::hidraw
