// The CRT's descriptors, opened with _SH_DENYRW: the loading rules open an
// image file without sharing, so a file that another program holds open
// counts as one that cannot be opened (_wsopen_s fails with a sharing violation).
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "image/image_file.h"

namespace wxr {

namespace {
std::error_code last_error() {
    return errno != 0 ? std::error_code(errno, std::generic_category())
                      : std::make_error_code(std::errc::io_error);
}
// _read takes an unsigned int count.
constexpr std::size_t kMaxReadBytes = INT_MAX;
}  // namespace

ImageFile::ImageFile(const std::filesystem::path& path) {
    if (_wsopen_s(&fd_, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, _S_IREAD) != 0) {
        fd_ = -1;
    }
}

ImageFile::~ImageFile() {
    if (fd_ >= 0) _close(fd_);
}

std::optional<std::uintmax_t> ImageFile::size(std::error_code& error) {
    errno = 0;
    const __int64 end = _lseeki64(fd_, 0, SEEK_END);
    if (end < 0 || _lseeki64(fd_, 0, SEEK_SET) != 0) {
        error = last_error();
        return std::nullopt;
    }
    return static_cast<std::uintmax_t>(end);
}

std::optional<std::size_t> ImageFile::read(std::span<std::uint8_t> buffer, std::error_code& error) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        errno = 0;
        const auto want = static_cast<unsigned>(std::min(buffer.size() - done, kMaxReadBytes));
        const int got = _read(fd_, buffer.data() + done, want);
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
