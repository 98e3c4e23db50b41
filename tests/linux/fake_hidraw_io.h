// A scripted stand-in for the hidraw system calls: nodes with descriptors,
// answers, errors and interruptions, and a record of what reached each node.
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/linux/hidraw_io.h"

namespace wxr::hidraw::testing {

struct FakeNode {
    std::vector<std::uint8_t> descriptor;
    RawInfo info{3, 0x1209, 0x7305};
    std::vector<std::uint8_t> reply;       // what a get copies out, report ID included
    std::map<int, int> open_errors;        // access mode -> errno the open fails with
    int io_error = 0;                      // errno every get and set fails with
    std::vector<std::vector<std::uint8_t>> sets;  // every report written, as written
    int gets = 0;
    int opens = 0;             // successful open() calls
    int descriptor_reads = 0;
    std::uint64_t generation = 1;  // replace() gives the path a new node
    std::map<RawText, std::string> texts;  // what the node tells; -ENOTTY for the others
};

class FakeHidrawIo final : public HidrawIo {
public:
    std::map<std::string, FakeNode> nodes;  // by path
    std::vector<std::string> listing;       // what list_nodes answers
    std::string class_dir = "/nonexistent";  // the hidraw class directory of a sysfs tree
    int list_error = 0;
    int interruptions = 0;  // the next this many calls fail with EINTR
    std::vector<int> open_flags;
    int calls = 0;

    FakeNode& node(const std::string& path) {
        std::lock_guard lock(mutex_);
        return nodes[path];
    }
    // Another unit at the same path: a new node; descriptors of the old one fail.
    FakeNode& replace(const std::string& path) {
        std::lock_guard lock(mutex_);
        FakeNode fresh = nodes[path];
        fresh.generation = next_generation_++;
        fresh.opens = 0;
        fresh.descriptor_reads = 0;
        return nodes[path] = fresh;
    }
    std::size_t open_descriptors() const {
        std::lock_guard lock(mutex_);
        return fds_.size();
    }

    int list_nodes(std::vector<std::string>& names) override {
        names = listing;
        return list_error ? -list_error : 0;
    }

    int open(const std::string& path, int flags) override {
        std::lock_guard lock(mutex_);
        if (interrupted()) return -EINTR;
        open_flags.push_back(flags);
        auto it = nodes.find(path);
        if (it == nodes.end()) return -ENOENT;
        auto error = it->second.open_errors.find(flags & O_ACCMODE);
        if (error != it->second.open_errors.end()) return -error->second;
        ++it->second.opens;
        fds_[next_fd_] = {path, it->second.generation};
        return next_fd_++;
    }

    int close(int fd) override {
        std::lock_guard lock(mutex_);
        return fds_.erase(fd) ? 0 : -EBADF;
    }

    int report_descriptor(int fd, std::vector<std::uint8_t>& descriptor) override {
        std::lock_guard lock(mutex_);
        FakeNode* n = node_of(fd);
        if (!n) return -EBADF;
        ++n->descriptor_reads;
        descriptor = n->descriptor;
        return 0;
    }

    int raw_info(int fd, RawInfo& info) override {
        std::lock_guard lock(mutex_);
        FakeNode* n = node_of(fd);
        if (!n) return -EBADF;
        info = n->info;
        return 0;
    }

    int get_feature(int fd, std::span<std::uint8_t> report) override {
        std::lock_guard lock(mutex_);
        if (interrupted()) return -EINTR;
        FakeNode* n = node_of(fd);
        if (!n) return -EBADF;
        ++n->gets;
        if (n->io_error) return -n->io_error;
        std::size_t count = std::min(report.size(), n->reply.size());
        std::copy_n(n->reply.begin(), count, report.begin());
        return static_cast<int>(count);
    }

    int set_feature(int fd, std::span<const std::uint8_t> report) override {
        std::lock_guard lock(mutex_);
        if (interrupted()) return -EINTR;
        FakeNode* n = node_of(fd);
        if (!n) return -EBADF;
        if (n->io_error) return -n->io_error;
        n->sets.emplace_back(report.begin(), report.end());
        return static_cast<int>(report.size());
    }

    int raw_text(int fd, RawText which, std::string& text) override {
        std::lock_guard lock(mutex_);
        FakeNode* n = node_of(fd);
        if (!n) return -EBADF;
        auto it = n->texts.find(which);
        if (it == n->texts.end()) return -ENOTTY;
        text = it->second;
        return 0;
    }

    int sysfs_text(const std::string& node_name, RawText which, std::string& text) override {
        return SystemHidrawIo(class_dir).sysfs_text(node_name, which, text);
    }

private:
    bool interrupted() {
        ++calls;
        if (interruptions == 0) return false;
        --interruptions;
        return true;
    }
    // nullptr for an unknown descriptor or one of a node since gone or replaced (the
    // kernel answers ENODEV there; EBADF here is as good for the backend).
    FakeNode* node_of(int fd) {
        auto it = fds_.find(fd);
        if (it == fds_.end()) return nullptr;
        auto at = nodes.find(it->second.path);
        if (at == nodes.end()) return nullptr;
        return at->second.generation == it->second.generation ? &at->second : nullptr;
    }

    struct OpenFd {
        std::string path;
        std::uint64_t generation;
    };
    mutable std::mutex mutex_;
    std::map<int, OpenFd> fds_;
    int next_fd_ = 3;
    std::uint64_t next_generation_ = 2;
};

}  // namespace wxr::hidraw::testing
