#include "device/output_file.h"

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

namespace wxr::cli::output_file {

namespace {

#ifdef _WIN32
// Windows has no FIFOs to block on: a plain open will do.
int open_without_blocking(const std::string& path, Mode mode) {
    std::u16string wide = from_utf8(path);
    int fd = -1;
    int flags = mode == Mode::Append ? _O_RDWR | _O_APPEND : _O_WRONLY;
    _wsopen_s(&fd, reinterpret_cast<const wchar_t*>(wide.c_str()), flags | _O_CREAT | _O_BINARY, _SH_DENYNO,
              _S_IREAD | _S_IWRITE);
    return fd;
}
bool is_regular(int fd) {
    struct _stat64 st;
    return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
long write_some(int fd, const char* data, std::size_t size) { return _write(fd, data, static_cast<unsigned>(size)); }
#else
int open_without_blocking(const std::string& path, Mode mode) {
    int flags = mode == Mode::Append ? O_RDWR | O_APPEND : O_WRONLY;
    return ::open(path.c_str(), flags | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
}
bool is_regular(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
long write_some(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
#endif

}  // namespace

int open_regular(const std::string& path, Mode mode, const std::string& what) {
    int fd = open_without_blocking(path, mode);
    // A FIFO without a reader (or a device node without its device) refuses a non-blocking open so.
    if (fd < 0 && errno == ENXIO) throw std::runtime_error(what + " " + path + " is not a regular file");
    if (fd < 0) throw std::runtime_error("cannot write " + what + " " + path + ": " + std::strerror(errno));
    if (!is_regular(fd)) {
        close(fd);
        throw std::runtime_error(what + " " + path + " is not a regular file");
    }
    return fd;
}

bool write_all(int fd, const char* data, std::size_t size) {
    const char* end = data + size;
    while (data < end) {
        long written = write_some(fd, data, static_cast<std::size_t>(end - data));
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = 0;
        if (written <= 0) return false;
        data += written;
    }
    return true;
}

bool write_whole(int fd, const char* data, std::size_t size) {
    long written = -1;
    do {
        errno = 0;
        written = write_some(fd, data, size);
    } while (written < 0 && errno == EINTR);
    return written >= 0 && static_cast<std::size_t>(written) == size;
}

#ifdef _WIN32
long long length(int fd) { return _lseeki64(fd, 0, SEEK_END); }
bool truncate_to(int fd, long long length) { return _chsize_s(fd, length) == 0; }
int last_byte(int fd) {
    unsigned char byte = 0;
    long long end = _lseeki64(fd, 0, SEEK_END);
    if (end <= 0 || _lseeki64(fd, end - 1, SEEK_SET) < 0 || _read(fd, &byte, 1) != 1) return -1;
    return byte;
}
bool make_blocking(int) { return true; }
bool truncate(int fd) { return _chsize_s(fd, 0) == 0; }
bool flush_to_disk(int fd) { return _commit(fd) == 0; }
void close(int fd) { _close(fd); }
// Volume and file index.
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
std::optional<std::string> file_id(const std::string& path) {
    std::u16string wide = from_utf8(path);
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!known) return std::nullopt;
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
           std::to_string(info.nFileIndexLow);
}
#else
std::optional<std::string> file_id(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}
long long length(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}
bool truncate_to(int fd, long long length) { return ::ftruncate(fd, static_cast<off_t>(length)) == 0; }
int last_byte(int fd) {
    unsigned char byte = 0;
    long long end = length(fd);
    if (end <= 0 || ::pread(fd, &byte, 1, static_cast<off_t>(end - 1)) != 1) return -1;
    return byte;
}
bool make_blocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}
bool truncate(int fd) { return make_blocking(fd) && ::ftruncate(fd, 0) == 0; }
bool flush_to_disk(int fd) { return ::fsync(fd) == 0; }
void close(int fd) { ::close(fd); }
// Device and inode.
bool same_file(int fd, const std::string& other) {
    struct stat mine, theirs;
    return ::fstat(fd, &mine) == 0 && ::stat(other.c_str(), &theirs) == 0 && mine.st_dev == theirs.st_dev &&
           mine.st_ino == theirs.st_ino;
}
#endif

}  // namespace wxr::cli::output_file
