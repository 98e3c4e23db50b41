#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "image/file_read.h"

namespace wxr {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void throw_errno() { throw std::system_error(errno, std::generic_category()); }

// The length as a seek to the end gives it, as for any file that opened.
std::size_t measure(int fd) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0 || ::lseek(fd, 0, SEEK_SET) < 0) throw_errno();
    return static_cast<std::size_t>(end);
}

std::size_t read_all(int fd, std::span<std::uint8_t> into) {
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = ::read(fd, into.data() + done, into.size() - done);
        if (got == 0) break;  // the file shrank since it was measured
        if (got < 0) {
            if (errno == EINTR) continue;
            throw_errno();
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace

std::optional<std::size_t> read_regular_file(const std::filesystem::path& path, std::span<std::uint8_t> room) {
    // Non-blocking, so that a FIFO without a writer cannot hold the open.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    const std::size_t length = measure(file.get());
    if (length > room.size()) return std::nullopt;
    return read_all(file.get(), room.first(length));
}

}  // namespace wxr
