#include "device/linux/flock_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "device/channel.h"

namespace wxr::hidraw {

namespace {

// Short against the wait, long against the append a holder makes.
constexpr auto kRetryPause = std::chrono::milliseconds(5);
// This user's alone: other users can neither create nor hold its files.
constexpr mode_t kLockDirMode = 0700;
constexpr mode_t kLockFileMode = 0600;
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;
// Keeps the file name well below the 255 bytes a directory entry allows;
// the hash still tells long names apart.
constexpr std::size_t kMaxNameChars = 96;

class FlockMutex final : public NamedMutex {
public:
    FlockMutex(int fd, std::chrono::milliseconds wait) : fd_(fd), wait_(wait) {}
    ~FlockMutex() override { ::close(fd_); }
    FlockMutex(const FlockMutex&) = delete;
    FlockMutex& operator=(const FlockMutex&) = delete;

    // False when another process held the lock for the whole wait.
    bool lock() override {
        threads_.lock();
        const auto deadline = std::chrono::steady_clock::now() + wait_;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
                threads_.unlock();
                return false;
            }
            std::this_thread::sleep_for(kRetryPause);
        }
        return true;
    }

    void unlock() override {
        ::flock(fd_, LOCK_UN);
        threads_.unlock();
    }

private:
    int fd_;
    std::chrono::milliseconds wait_;
    std::mutex threads_;
};

// FNV-1a, so that names differing only in characters the file name cannot
// carry still get files of their own.
std::uint32_t name_hash(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

// A directory, not a link, owned by this user and writable by nobody else;
// created so when missing.
bool is_private_dir(const std::string& dir) {
    ::mkdir(dir.c_str(), kLockDirMode);
    struct stat info {};
    return ::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & kWritableByOthers) == 0;
}

// The lock file, refused unless it is a plain file of this user's.
int open_lock_file(const std::string& path) {
    // Non-blocking: a FIFO put there must not hold the open; it is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, kLockFileMode);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) return fd;
    ::close(fd);
    return -1;
}

}  // namespace

FlockMutexFactory::FlockMutexFactory(std::vector<std::string> dirs, std::chrono::milliseconds wait)
    : dirs_(std::move(dirs)), wait_(wait) {}

std::vector<std::string> FlockMutexFactory::default_lock_dirs() {
    std::vector<std::string> dirs;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        dirs.emplace_back(runtime);
    }
    dirs.push_back("/tmp/wxr7305-" + std::to_string(::geteuid()));
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
        if (!is_private_dir(dir)) continue;
        int fd = open_lock_file(dir + "/" + file);
        if (fd >= 0) return std::make_unique<FlockMutex>(fd, wait_);
    }
    return nullptr;
}

}  // namespace wxr::hidraw
