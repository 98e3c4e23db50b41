// The system calls the hidraw backend makes, behind one small interface so
// that the backend's own logic (lengths, retries, permission counts,
// descriptors held and dropped) can be tested without a kernel HID device.
// Every call returns a negative errno on failure.
#pragma once

#include <cerrno>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace wxr::hidraw {

struct RawInfo {
    std::uint32_t bus_type = 0;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
};

// What the kernel says of a node's HID device beyond its ids.
enum class RawText {
    Phys,  // where it is attached (e.g. usb-0000:00:14.0-2/input0)
    Uniq,  // its serial number string; empty when it has none
};
// An advisory lock on a node (flock), held by one open file: a shared one
// for every descriptor that talks to the unit, an exclusive one for a claim.
enum class NodeLock { Shared, Exclusive, None };

class HidrawIo {
public:
    virtual ~HidrawIo() = default;

    // Names of the hidraw nodes present ("hidraw0", ...), in any order.
    virtual int list_nodes(std::vector<std::string>& names) = 0;
    // A file descriptor, or -errno.
    virtual int open(const std::string& path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int report_descriptor(int fd, std::vector<std::uint8_t>& descriptor) = 0;
    virtual int raw_info(int fd, RawInfo& info) = 0;
    // Bytes transferred, or -errno. report[0] holds the report ID.
    virtual int get_feature(int fd, std::span<std::uint8_t> report) = 0;
    virtual int set_feature(int fd, std::span<const std::uint8_t> report) = 0;
    // The text from the open node; -ENOTTY where the kernel does not tell it.
    virtual int raw_text(int fd, RawText which, std::string& text) = 0;
    // The same text from the sysfs attribute files of the USB device behind
    // the node (usb_sysfs.h), each holding that one string; -ENOENT when the
    // node's HID device is not on USB.
    virtual int sysfs_text(const std::string& node_name, RawText which, std::string& text) = 0;
    // The name of the node's HID device in sysfs ("0003:1209:7305.0004"): the
    // kernel numbers each HID device it adds anew.
    virtual int hid_device_name(const std::string& /*node_name*/, std::string& /*name*/) { return -ENOENT; }
    // Takes (or with None drops) the lock without waiting: 0, or
    // -EWOULDBLOCK when another open file holds a conflicting one. Locking
    // nothing by default, for fakes that do not model it.
    virtual int lock(int /*fd*/, NodeLock /*how*/) { return 0; }
};

// A signal may interrupt a system call; past this many interruptions in a
// row the operation counts as failed rather than holding its caller.
inline constexpr int kMaxInterruptedRetries = 16;

// Calls `call` (returning -errno on failure) again while a signal interrupted it.
template <typename Call>
int retrying(Call&& call) {
    int rc = call();
    for (int retry = 0; rc == -EINTR && retry < kMaxInterruptedRetries; ++retry) rc = call();
    return rc;
}

// The kernel's hidraw nodes: names from `class_dir`, nodes under `dev_dir`.
class SystemHidrawIo final : public HidrawIo {
public:
    explicit SystemHidrawIo(std::string class_dir = "/sys/class/hidraw")
        : class_dir_(std::move(class_dir)) {}

    int list_nodes(std::vector<std::string>& names) override;
    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int report_descriptor(int fd, std::vector<std::uint8_t>& descriptor) override;
    int raw_info(int fd, RawInfo& info) override;
    int get_feature(int fd, std::span<std::uint8_t> report) override;
    int set_feature(int fd, std::span<const std::uint8_t> report) override;
    int raw_text(int fd, RawText which, std::string& text) override;
    int sysfs_text(const std::string& node_name, RawText which, std::string& text) override;
    int hid_device_name(const std::string& node_name, std::string& name) override;
    int lock(int fd, NodeLock how) override;

private:
    std::string class_dir_;
};

}  // namespace wxr::hidraw
