#include "device/linux/hidraw_platform.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "device/channel.h"
#include "device/report.h"

namespace wxr::hidraw {

namespace {

// A signal may interrupt a system call; past this many interruptions in a
// row the operation counts as failed rather than holding its caller.
constexpr int kMaxInterruptedRetries = 16;

// Read-write first; a node the user may only read (or only write) still takes
// the feature report requests, which hidraw does not restrict by access mode.
constexpr int kOpenModes[] = {O_RDWR, O_RDONLY, O_WRONLY};
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY;

template <typename Call>
int retrying(Call&& call) {
    int rc = call();
    for (int retry = 0; rc == -EINTR && retry < kMaxInterruptedRetries; ++retry) rc = call();
    return rc;
}

bool is_permission_error(int rc) { return rc == -EACCES || rc == -EPERM; }

// "hidraw12" -> 12, for listing nodes in the kernel's order.
unsigned long node_number(const std::string& name) {
    std::size_t digits = name.find_first_of("0123456789");
    return digits == std::string::npos ? 0 : std::stoul(name.substr(digits));
}

bool is_node_name(const std::string& name) {
    constexpr std::string_view kPrefix = "hidraw";
    return name.size() > kPrefix.size() && name.rfind(kPrefix, 0) == 0 &&
           std::all_of(name.begin() + kPrefix.size(), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; }) &&
           name.size() <= kPrefix.size() + 9;
}

}  // namespace

HidrawPlatform::HidrawPlatform(std::unique_ptr<HidrawIo> io, std::string dev_dir)
    : io_(std::move(io)), dev_dir_(std::move(dev_dir)) {}

std::optional<std::vector<DevicePath>> HidrawPlatform::enumerate() {
    {
        std::lock_guard lock(mutex_);
        denied_.clear();
    }
    std::vector<std::string> names;
    if (io_->list_nodes(names) < 0) return std::nullopt;
    std::erase_if(names, [](const std::string& n) { return !is_node_name(n); });
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return node_number(a) < node_number(b);
    });
    std::vector<DevicePath> paths;
    for (const auto& name : names) paths.push_back(from_utf8(dev_dir_ + "/" + name));
    return paths;
}

HidHandle HidrawPlatform::open(const DevicePath& path) {
    std::string file = to_utf8(path);
    int fd = -EACCES;
    for (int mode : kOpenModes) {
        fd = retrying([&] { return io_->open(file, mode | kOpenFlags); });
        if (!is_permission_error(fd)) break;
    }
    std::lock_guard lock(mutex_);
    if (fd < 0) {
        if (is_permission_error(fd)) denied_.insert(file);
        return kNoHandle;
    }
    HidHandle handle = next_handle_++;
    open_[handle].fd = fd;
    return handle;
}

std::optional<int> HidrawPlatform::fd_of(HidHandle device) const {
    std::lock_guard lock(mutex_);
    auto it = open_.find(device);
    if (it == open_.end()) return std::nullopt;
    return it->second.fd;
}

std::optional<std::uint16_t> HidrawPlatform::feature_length(HidHandle device, std::uint8_t report_id) {
    std::unique_lock lock(mutex_);
    auto it = open_.find(device);
    if (it == open_.end()) return std::nullopt;
    if (!it->second.collections) {
        int fd = it->second.fd;
        lock.unlock();
        std::vector<std::uint8_t> descriptor;
        if (retrying([&] { return io_->report_descriptor(fd, descriptor); }) < 0) return std::nullopt;
        auto parsed = hid::parse_report_descriptor(descriptor);
        if (!parsed) return std::nullopt;
        lock.lock();
        it = open_.find(device);
        if (it == open_.end()) return std::nullopt;
        it->second.collections = std::move(parsed);
    }
    return hid::feature_report_length_of(*it->second.collections, report_id);
}

bool HidrawPlatform::capabilities(HidHandle device, HidCapabilities& caps) {
    auto length = feature_length(device, kReportId);
    if (!length) return false;
    caps.feature_report_length = *length;
    return true;
}

bool HidrawPlatform::attributes(HidHandle device, HidAttributes& attrs) {
    auto fd = fd_of(device);
    if (!fd) return false;
    RawInfo info;
    if (retrying([&] { return io_->raw_info(*fd, info); }) < 0) return false;
    attrs.vendor_id = info.vendor_id;
    attrs.product_id = info.product_id;
    attrs.version = 0;  // hidraw does not tell the release number
    return true;
}

bool HidrawPlatform::get_feature(HidHandle device, std::span<std::uint8_t> report) {
    auto fd = fd_of(device);
    if (!fd || report.empty()) return false;
    // A scratch buffer: a short or foreign answer must not reach the caller.
    std::vector<std::uint8_t> buffer(report.begin(), report.end());
    int got = retrying([&] { return io_->get_feature(*fd, buffer); });
    if (got != static_cast<int>(buffer.size()) || buffer[0] != report[0]) return false;
    std::copy(buffer.begin(), buffer.end(), report.begin());
    return true;
}

bool HidrawPlatform::set_feature(HidHandle device, std::span<const std::uint8_t> report) {
    auto fd = fd_of(device);
    if (!fd || report.empty()) return false;
    // Exactly the collection's report length, as Windows delivers it: a
    // device may stall on a longer one. No collection declaring the report
    // (length 0), or a report shorter than the device expects: nothing is sent.
    auto length = feature_length(device, report[0]);
    if (!length || *length == 0 || *length > report.size()) return false;
    auto wire = report.first(*length);
    // Transports differ in the count they return on success (some give 0);
    // a failed transfer is always an error.
    return retrying([&] { return io_->set_feature(*fd, wire); }) >= 0;
}

void HidrawPlatform::close(HidHandle device) {
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        auto it = open_.find(device);
        if (it == open_.end()) return;
        fd = it->second.fd;
        open_.erase(it);
    }
    // Never retried: Linux releases the descriptor even when close is interrupted.
    io_->close(fd);
}

std::size_t HidrawPlatform::permission_denied_count() const {
    std::lock_guard lock(mutex_);
    return denied_.size();
}

}  // namespace wxr::hidraw
