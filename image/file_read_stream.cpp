// The reading through the standard library's file streams, for platforms
// without FIFOs among their files (Windows).
#include <cerrno>
#include <fstream>
#include <system_error>

#include "image/file_read.h"

namespace wxr {

namespace {

std::error_code last_error() {
    return errno != 0 ? std::error_code(errno, std::generic_category())
                      : std::make_error_code(std::errc::io_error);
}

}  // namespace

std::optional<std::size_t> read_regular_file(const std::filesystem::path& path, std::span<std::uint8_t> room) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) return std::nullopt;
    errno = 0;
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    file.seekg(0, std::ios::beg);
    if (end < 0 || !file) throw std::system_error(last_error());
    if (static_cast<std::uintmax_t>(end) > room.size()) return std::nullopt;
    errno = 0;
    file.read(reinterpret_cast<char*>(room.data()), static_cast<std::streamsize>(end));
    if (file.bad()) throw std::system_error(last_error());
    return static_cast<std::size_t>(file.gcount());
}

}  // namespace wxr
