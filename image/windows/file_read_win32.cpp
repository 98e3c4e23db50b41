// An image file is opened without sharing (_SH_DENYRW): a file that another
// program holds open counts as one that cannot be opened.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include "image/file_read.h"

namespace wxr {

namespace {

// _read takes an unsigned int count.
constexpr std::size_t kMaxReadBytes = INT_MAX;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) _close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void throw_errno() {
    throw std::system_error(errno != 0 ? errno : EIO, std::generic_category());
}

int open_unshared(const std::filesystem::path& path) {
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, _S_IREAD) != 0) return -1;
    return fd;
}

std::size_t measure(int fd) {
    errno = 0;
    const __int64 end = _lseeki64(fd, 0, SEEK_END);
    if (end < 0 || _lseeki64(fd, 0, SEEK_SET) != 0) throw_errno();
    return static_cast<std::size_t>(end);
}

std::size_t read_all(int fd, std::span<std::uint8_t> into) {
    std::size_t done = 0;
    while (done < into.size()) {
        errno = 0;
        const auto want = static_cast<unsigned>(std::min(into.size() - done, kMaxReadBytes));
        const int got = _read(fd, into.data() + done, want);
        if (got == 0) break;  // the file shrank since it was measured
        if (got < 0) throw_errno();
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace

std::optional<std::size_t> read_regular_file(const std::filesystem::path& path, std::span<std::uint8_t> room) {
    FileDescriptor file(open_unshared(path));
    if (file.get() < 0) return std::nullopt;
    struct _stat64 info {};
    if (_fstat64(file.get(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return std::nullopt;
    const std::size_t length = measure(file.get());
    if (length > room.size()) return std::nullopt;
    return read_all(file.get(), room.first(length));
}

}  // namespace wxr
