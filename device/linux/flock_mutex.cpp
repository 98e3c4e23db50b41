#include "device/linux/flock_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "device/channel.h"

namespace wxr::hidraw {

namespace {

// A signal storm must not keep lock() from returning.
constexpr int kMaxInterruptedRetries = 16;
// Readable by all: another user's process may lock the same file, and
// flock needs no write access.
constexpr mode_t kLockFileMode = 0644;
// Keeps the file name well below the 255 bytes a directory entry allows;
// the hash still tells long names apart.
constexpr std::size_t kMaxNameChars = 96;

class FlockMutex final : public NamedMutex {
public:
    explicit FlockMutex(int fd) : fd_(fd) {}
    ~FlockMutex() override { ::close(fd_); }
    FlockMutex(const FlockMutex&) = delete;
    FlockMutex& operator=(const FlockMutex&) = delete;

    bool lock() override {
        threads_.lock();
        int rc = ::flock(fd_, LOCK_EX);
        for (int retry = 0; rc < 0 && errno == EINTR && retry < kMaxInterruptedRetries; ++retry) {
            rc = ::flock(fd_, LOCK_EX);
        }
        if (rc == 0) return true;
        threads_.unlock();
        return false;
    }

    void unlock() override {
        ::flock(fd_, LOCK_UN);
        threads_.unlock();
    }

private:
    int fd_;
    std::mutex threads_;
};

// FNV-1a, so that names differing only in characters the file name cannot
// carry still get files of their own.
std::uint32_t name_hash(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

int open_lock_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLockFileMode);
    // In a sticky world-writable directory the kernel may refuse O_CREAT on
    // another user's existing file; opening it plainly still works.
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    return fd;
}

}  // namespace

FlockMutexFactory::FlockMutexFactory(std::vector<std::string> dirs) : dirs_(std::move(dirs)) {}

std::vector<std::string> FlockMutexFactory::default_lock_dirs() {
    std::vector<std::string> dirs;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        dirs.emplace_back(runtime);
    }
    dirs.emplace_back("/run/lock");
    dirs.emplace_back("/tmp");
    return dirs;
}

std::string FlockMutexFactory::lock_file_name(const std::u16string& name) {
    std::string utf8 = to_utf8(name);
    std::string safe;
    for (char c : utf8.substr(0, kMaxNameChars)) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.';
        safe += keep ? c : '_';
    }
    char hash[9];
    std::snprintf(hash, sizeof hash, "%08x", name_hash(utf8));
    return "wxr7305-" + safe + "-" + hash + ".lock";
}

std::unique_ptr<NamedMutex> FlockMutexFactory::create(const std::u16string& name) {
    std::string file = lock_file_name(name);
    for (const auto& dir : dirs_) {
        int fd = open_lock_file(dir + "/" + file);
        if (fd >= 0) return std::make_unique<FlockMutex>(fd);
    }
    return nullptr;
}

}  // namespace wxr::hidraw
