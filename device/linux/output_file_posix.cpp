#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/output_file_os.h"

namespace wxr::output_file {

namespace os {

int open_without_blocking(const std::string& path, Mode mode) {
    int flags = mode == Mode::Append ? O_RDWR | O_APPEND : O_WRONLY;
    return ::open(path.c_str(), flags | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
}
bool is_regular(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
long write_some(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }

}  // namespace os

std::optional<std::string> file_id(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}
std::optional<std::string> descriptor_id(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
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

}  // namespace wxr::output_file
