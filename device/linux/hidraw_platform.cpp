#include "device/linux/hidraw_platform.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "device/channel.h"
#include "device/hid_descriptor.h"
#include "device/report.h"

namespace wxr::hidraw {

namespace {

// Read-write first; a node the user may only read (or only write) still takes
// the feature report requests, which hidraw does not restrict by access mode.
constexpr int kOpenModes[] = {O_RDWR, O_RDONLY, O_WRONLY};
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY;

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
        in_use_.clear();
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
    std::shared_ptr<NodeFd> node;
    // A kept descriptor is used without looking at the path again: while it
    // is open the kernel keeps its node's number from any other unit, and a
    // unit that has left fails every request on it, which drops it.
    const bool lent = lend(file, node);
    if (node && !share(*node)) {
        // Another program has claimed the unit since: the kept descriptor goes.
        io_->close(node->fd);
        node.reset();
        std::lock_guard lock(mutex_);
        give_back(file, nullptr);
        return kNoHandle;
    }
    if (!node) node = open_node(file);
    std::lock_guard lock(mutex_);
    if (!node) {
        if (lent) give_back(file, nullptr);
        return kNoHandle;
    }
    HidHandle handle = next_handle_++;
    open_[handle] = OpenNode{std::move(node), lent ? file : std::string{}};
    return handle;
}

bool HidrawPlatform::lend(const std::string& file, std::shared_ptr<NodeFd>& kept) {
    std::lock_guard lock(mutex_);
    auto it = held_.find(file);
    if (it == held_.end() || it->second.lent) return false;
    it->second.lent = true;
    kept = std::move(it->second.idle);
    return true;
}

int HidrawPlatform::open_fd(const std::string& file) {
    int fd = -EACCES;
    for (int mode : kOpenModes) {
        fd = retrying([&] { return io_->open(file, mode | kOpenFlags); });
        if (!is_permission_error(fd)) break;
    }
    return fd;
}

std::shared_ptr<HidrawPlatform::NodeFd> HidrawPlatform::open_node(const std::string& file) {
    int fd = open_fd(file);
    if (fd < 0) {
        std::lock_guard lock(mutex_);
        if (is_permission_error(fd)) denied_.insert(file);
        return nullptr;
    }
    auto node = std::make_shared<NodeFd>();
    node->fd = fd;
    node->file = file;
    if (share(*node)) return node;
    io_->close(fd);
    return nullptr;
}

std::shared_ptr<HidrawPlatform::NodeFd> HidrawPlatform::node_of(HidHandle device) const {
    std::lock_guard lock(mutex_);
    auto it = open_.find(device);
    return it == open_.end() ? nullptr : it->second.node;
}

void HidrawPlatform::mark_failed(NodeFd& node) {
    std::lock_guard lock(mutex_);
    node.failed = true;
}

std::optional<std::uint16_t> HidrawPlatform::feature_length(NodeFd& node) {
    {
        std::lock_guard lock(mutex_);
        if (node.feature_length) return node.feature_length;
    }
    std::vector<std::uint8_t> descriptor;
    std::optional<std::vector<hid::TopLevelCollection>> parsed;
    if (retrying([&] { return io_->report_descriptor(node.fd, descriptor); }) >= 0) {
        parsed = hid::parse_report_descriptor(descriptor);
    }
    std::lock_guard lock(mutex_);
    if (!parsed) {
        node.failed = true;
        return std::nullopt;
    }
    node.feature_length = hid::feature_report_length_of(*parsed, kReportId);
    return node.feature_length;
}

bool HidrawPlatform::capabilities(HidHandle device, HidCapabilities& caps) {
    auto node = node_of(device);
    auto length = node ? feature_length(*node) : std::nullopt;
    if (!length) return false;
    caps.feature_report_length = *length;
    return true;
}

bool HidrawPlatform::attributes(HidHandle device, HidAttributes& attrs) {
    auto node = node_of(device);
    if (!node) return false;
    RawInfo info;
    if (retrying([&] { return io_->raw_info(node->fd, info); }) < 0) {
        mark_failed(*node);
        return false;
    }
    attrs.vendor_id = info.vendor_id;
    attrs.product_id = info.product_id;
    attrs.version = 0;  // hidraw does not tell the release number
    return true;
}

bool HidrawPlatform::get_feature(HidHandle device, std::span<std::uint8_t> report) {
    auto node = node_of(device);
    if (!node || report.empty()) return false;
    // A scratch buffer: a short or foreign answer must not reach the caller.
    std::vector<std::uint8_t> buffer(report.begin(), report.end());
    int got = retrying([&] { return io_->get_feature(node->fd, buffer); });
    if (got != static_cast<int>(buffer.size()) || buffer[0] != report[0]) {
        mark_failed(*node);
        return false;
    }
    std::copy(buffer.begin(), buffer.end(), report.begin());
    return true;
}

bool HidrawPlatform::set_feature(HidHandle device, std::span<const std::uint8_t> report) {
    auto node = node_of(device);
    if (!node || report.empty()) return false;
    // The channel has fitted the report to this very length (feature_length,
    // read once per descriptor), so through it the check always holds. A
    // report of any other length did not come that way and is refused, not
    // cut; so is any write to a node without report 5 (length 0).
    auto length = feature_length(*node);
    // Transports differ in the count they return on success (some give 0);
    // a failed transfer is always an error.
    bool ok = length && *length != 0 && report.size() == *length &&
              retrying([&] { return io_->set_feature(node->fd, report); }) >= 0;
    if (!ok) mark_failed(*node);
    return ok;
}

void HidrawPlatform::close(HidHandle device) {
    std::shared_ptr<NodeFd> node;
    {
        std::lock_guard lock(mutex_);
        auto it = open_.find(device);
        if (it == open_.end()) return;
        node = std::move(it->second.node);
        const std::string held_path = std::move(it->second.held_path);
        open_.erase(it);
        if (!held_path.empty()) {
            const bool keep = !node->failed;  // a failed descriptor is not kept
            auto left = give_back(held_path, keep ? std::move(node) : nullptr);
            if (keep) node = std::move(left);
        }
    }
    // Never retried: Linux releases the descriptor even when close is interrupted.
    if (node) io_->close(node->fd);
}

std::shared_ptr<HidrawPlatform::NodeFd> HidrawPlatform::give_back(const std::string& file,
                                                                std::shared_ptr<NodeFd> node) {
    auto it = held_.find(file);
    if (it == held_.end()) return node;
    it->second.lent = false;
    if (it->second.holds == 0) {
        held_.erase(it);
        return node;
    }
    // Idle, it keeps no lock: a claim of this process must not meet its own.
    if (node) io_->lock(node->fd, NodeLock::None);
    it->second.idle = std::move(node);
    return nullptr;
}

void HidrawPlatform::hold(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    ++held_[to_utf8(path)].holds;
}

void HidrawPlatform::release(const DevicePath& path) {
    std::shared_ptr<NodeFd> idle;
    {
        std::lock_guard lock(mutex_);
        auto it = held_.find(to_utf8(path));
        if (it == held_.end() || it->second.holds == 0) return;
        // A handle still using the descriptor closes it itself.
        if (--it->second.holds > 0 || it->second.lent) return;
        idle = std::move(it->second.idle);
        held_.erase(it);
    }
    if (idle) io_->close(idle->fd);
}

std::size_t HidrawPlatform::permission_denied_count() const {
    std::lock_guard lock(mutex_);
    return denied_.size();
}

}  // namespace wxr::hidraw
