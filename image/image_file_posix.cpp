#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "image/image_file.h"

namespace wxr {

namespace {
std::error_code last_error() {
    return errno != 0 ? std::error_code(errno, std::generic_category())
                      : std::make_error_code(std::errc::io_error);
}
}  // namespace

ImageFile::ImageFile(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

ImageFile::~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::uintmax_t> ImageFile::size(std::error_code& error) {
    errno = 0;
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
        error = last_error();
        return std::nullopt;
    }
    return static_cast<std::uintmax_t>(end);
}

std::optional<std::size_t> ImageFile::read(std::span<std::uint8_t> buffer, std::error_code& error) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        errno = 0;
        const ssize_t got = ::read(fd_, buffer.data() + done, buffer.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = last_error();
            return std::nullopt;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace wxr
