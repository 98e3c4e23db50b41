#include <cerrno>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include "device/channel.h"
#include "device/output_file_os.h"

namespace wxr::output_file {

namespace os {

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

}  // namespace os

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
std::optional<std::string> descriptor_id(int fd) {
    if (!os::is_regular(fd)) return std::nullopt;
    HANDLE own = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info{};
    if (own == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(own, &info)) return std::nullopt;
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
           std::to_string(info.nFileIndexLow);
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

}  // namespace wxr::output_file
