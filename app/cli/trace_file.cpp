#include "app/cli/trace_file.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "device/channel.h"

namespace wxr::cli {

namespace {

#ifdef _WIN32
// Windows has no FIFOs to block on: a plain open will do.
int open_without_blocking(const std::string& path) {
    std::u16string wide = from_utf8(path);
    int fd = -1;
    _wsopen_s(&fd, reinterpret_cast<const wchar_t*>(wide.c_str()), _O_WRONLY | _O_CREAT | _O_BINARY, _SH_DENYNO,
              _S_IREAD | _S_IWRITE);
    return fd;
}
bool is_regular(int fd) {
    struct _stat64 st;
    return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
bool truncate_for_writing(int fd) { return _chsize_s(fd, 0) == 0; }
// Volume and file index: the same file under any name or link.
bool same_file(int fd, const std::string& other) {
    BY_HANDLE_FILE_INFORMATION mine{}, theirs{};
    HANDLE own = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    std::u16string wide = from_utf8(other);
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool known = GetFileInformationByHandle(own, &mine) && GetFileInformationByHandle(file, &theirs);
    CloseHandle(file);
    return known && mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow;
}
long write_some(int fd, const char* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(size));
}
void close_fd(int fd) { _close(fd); }
#else
int open_without_blocking(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
}
bool is_regular(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
// Only a regular file is truncated, and only now is it written blocking.
bool truncate_for_writing(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && ::ftruncate(fd, 0) == 0;
}
long write_some(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
void close_fd(int fd) { ::close(fd); }
// Device and inode: the same file under any name or link.
bool same_file(int fd, const std::string& other) {
    struct stat mine, theirs;
    return ::fstat(fd, &mine) == 0 && ::stat(other.c_str(), &theirs) == 0 && mine.st_dev == theirs.st_dev &&
           mine.st_ino == theirs.st_ino;
}
#endif

// Transcript lines are flushed one by one: a buffer of one line suffices.
constexpr std::size_t kBufferBytes = 4096;

}  // namespace

// Writes through the descriptor; after a failed write it drops everything
// and reports failure to the stream, so the command can say so at the end.
class TraceFile::Buffer final : public std::streambuf {
public:
    explicit Buffer(int fd) : fd_(fd) { setp(data_, data_ + kBufferBytes); }
    ~Buffer() override {
        sync();
        close_fd(fd_);
    }
    bool failed() const { return failed_; }

protected:
    int overflow(int ch) override {
        if (sync() != 0) return traits_type::eof();
        if (ch != traits_type::eof()) sputc(static_cast<char>(ch));
        return failed_ ? traits_type::eof() : traits_type::not_eof(ch);
    }
    int sync() override {
        const char* from = pbase();
        while (!failed_ && from < pptr()) {
            long written = write_some(fd_, from, static_cast<std::size_t>(pptr() - from));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) failed_ = true;
            else from += written;
        }
        setp(data_, data_ + kBufferBytes);
        return failed_ ? -1 : 0;
    }

private:
    int fd_;
    bool failed_ = false;
    char data_[kBufferBytes];
};

TraceFile::TraceFile(const std::string& path, const std::optional<std::string>& keep)
    : path_(path), stream_(nullptr) {
    int fd = open_without_blocking(path);
    // A FIFO without a reader (or a device node without its device) refuses a non-blocking open so.
    if (fd < 0 && errno == ENXIO) throw std::runtime_error("the trace file " + path + " is not a regular file");
    if (fd < 0) throw std::runtime_error("cannot write the trace file " + path + ": " + std::strerror(errno));
    if (!is_regular(fd)) {
        close_fd(fd);
        throw std::runtime_error("the trace file " + path + " is not a regular file");
    }
    if (keep && same_file(fd, *keep)) {
        close_fd(fd);
        throw std::runtime_error("the trace file " + path + " is the image file " + *keep + ": it is left as it is");
    }
    if (!truncate_for_writing(fd)) {
        int error = errno;
        close_fd(fd);
        throw std::runtime_error("cannot write the trace file " + path + ": " + std::strerror(error));
    }
    buffer_ = std::make_unique<Buffer>(fd);
    stream_.rdbuf(buffer_.get());
}

TraceFile::~TraceFile() { stream_.rdbuf(nullptr); }

bool TraceFile::intact() {
    stream_.flush();
    return stream_.good() && !buffer_->failed();
}

}  // namespace wxr::cli
