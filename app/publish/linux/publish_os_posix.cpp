#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/publish/publish_os.h"

namespace wxr::publish::os {

namespace {

FileId id_of_stat(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Handle open_read(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) error = std::strerror(errno);
    return fd < 0 ? kNoFile : fd;
}

void close(Handle file) { ::close(static_cast<int>(file)); }

std::optional<FileId> id_of(Handle file) {
    struct stat st {};
    if (::fstat(static_cast<int>(file), &st) != 0) return std::nullopt;
    return id_of_stat(st);
}

long long size(Handle file) {
    struct stat st {};
    return ::fstat(static_cast<int>(file), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long read_at(Handle file, char* data, std::size_t size, long long offset) {
    ssize_t n;
    do {
        n = ::pread(static_cast<int>(file), data, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

std::optional<FileId> id_of_path(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return id_of_stat(st);
}

bool replace_file(const std::string& temporary, const std::string& path, const std::string& text, bool flush,
                  std::string& error) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write_all(fd, text) && (!flush || ::fsync(fd) == 0);
    if (!ok) error = temporary + ": " + std::strerror(errno);
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        error = temporary + ": " + std::strerror(errno);
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = path + ": " + std::strerror(errno);
    }
    return ok;
}

std::filesystem::path path_of_text(const std::string& text) { return text; }
std::string text_of_path(const std::filesystem::path& path) { return path.string(); }

std::string error_text(int code) { return std::strerror(code); }

void die_now() {
    std::raise(SIGKILL);
    std::_Exit(128 + SIGKILL);  // not reached
}

}  // namespace wxr::publish::os
