#include "app/cli/log_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
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
int open_for_append(const std::string& path) {
    std::u16string wide = from_utf8(path);
    int fd = -1;
    _wsopen_s(&fd, reinterpret_cast<const wchar_t*>(wide.c_str()), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
              _SH_DENYNO, _S_IREAD | _S_IWRITE);
    return fd;
}
bool is_regular(int fd) {
    struct _stat64 st;
    return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
bool write_blocking(int) { return true; }
long write_some(int fd, const char* data, std::size_t size) { return _write(fd, data, static_cast<unsigned>(size)); }
bool flush_to_disk(int fd) { return _commit(fd) == 0; }
void close_fd(int fd) { _close(fd); }
bool utc_of(std::time_t t, std::tm& out) { return gmtime_s(&out, &t) == 0; }
#else
// Non-blocking, so that a FIFO without a reader is refused instead of holding the command.
int open_for_append(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
}
bool is_regular(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
bool write_blocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}
long write_some(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
bool flush_to_disk(int fd) { return ::fsync(fd) == 0; }
void close_fd(int fd) { ::close(fd); }
bool utc_of(std::time_t t, std::tm& out) { return ::gmtime_r(&t, &out) != nullptr; }
#endif

}  // namespace

LogFile::LogFile(const std::string& path) : path_(path) {
    int fd = open_for_append(path);
    if (fd < 0 && errno == ENXIO) throw std::runtime_error("the log file " + path + " is not a regular file");
    if (fd < 0) throw std::runtime_error("cannot write the log file " + path + ": " + std::strerror(errno));
    if (!is_regular(fd) || !write_blocking(fd)) {
        close_fd(fd);
        throw std::runtime_error("the log file " + path + " is not a regular file");
    }
    fd_ = fd;
}

LogFile::~LogFile() { close_fd(fd_); }

bool LogFile::append(const std::string& record, std::string& error) {
    std::string line = record + "\n";
    const char* from = line.data();
    const char* end = from + line.size();
    while (from < end) {
        long written = write_some(fd_, from, static_cast<std::size_t>(end - from));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = written < 0 ? std::strerror(errno) : "nothing was written";
            return false;
        }
        from += written;
    }
    if (flush_to_disk(fd_)) return true;
    error = std::strerror(errno);
    return false;
}

std::string utc_time_now() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    if (!utc_of(now, utc)) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string host_name() {
#ifdef _WIN32
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return {};
    return to_utf8(std::u16string(reinterpret_cast<const char16_t*>(name), size));
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
#endif
}

}  // namespace wxr::cli
