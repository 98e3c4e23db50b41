// HidrawPlatform's claims: an exclusive flock on a descriptor of the claim's
// own (see hidraw_platform.h).
#include <cerrno>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"

namespace wxr::hidraw {

bool HidrawPlatform::claim(const DevicePath& path) {
    const std::string file = to_utf8(path);
    {
        std::lock_guard lock(mutex_);
        // One run per unit in this process as well.
        if (claims_.contains(file)) return false;
    }
    int fd = open_fd(file);
    if (fd >= 0) {
        int rc = retrying([&] { return io_->lock(fd, NodeLock::Exclusive); });
        if (rc == -EWOULDBLOCK) {
            io_->close(fd);
            std::lock_guard lock(mutex_);
            in_use_.insert(file);  // another program has it: "not found" says so
            return false;
        }
        if (rc < 0) {
            // Nothing to lock with: the run goes on unexcluded.
            io_->close(fd);
            fd = -1;
        }
    }
    // A node that cannot be opened: the run's own opens fail and say why.
    std::lock_guard lock(mutex_);
    auto [it, fresh] = claims_.try_emplace(file, fd);
    if (fresh) return true;
    if (fd >= 0) io_->close(fd);  // another thread of ours was quicker
    return false;
}

void HidrawPlatform::unclaim(const DevicePath& path) {
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        auto it = claims_.find(to_utf8(path));
        if (it == claims_.end()) return;
        fd = it->second;
        claims_.erase(it);
    }
    // Closing the claim's descriptor drops its lock.
    if (fd >= 0) io_->close(fd);
}

bool HidrawPlatform::share(NodeFd& node) {
    {
        std::lock_guard lock(mutex_);
        if (claims_.contains(node.file)) return true;
    }
    int rc = retrying([&] { return io_->lock(node.fd, NodeLock::Shared); });
    if (rc != -EWOULDBLOCK) return true;  // any other failure: nothing to exclude with
    std::lock_guard lock(mutex_);
    in_use_.insert(node.file);
    return false;
}

std::size_t HidrawPlatform::interfaces_in_use() const {
    std::lock_guard lock(mutex_);
    return in_use_.size();
}

}  // namespace wxr::hidraw
