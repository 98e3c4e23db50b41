// An image file opened for reading: the one place where the platform's file
// calls meet the image store. On Windows the file is opened without sharing,
// so a file that another program holds open cannot be opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

namespace wxr {

class ImageFile {
public:
    explicit ImageFile(const std::filesystem::path& path);
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // The length, found by seeking to the end and back; nullopt and the cause on failure.
    std::optional<std::uintmax_t> size(std::error_code& error);
    // Reads until `buffer` is full or the file ends; the count, or nullopt and the cause.
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer, std::error_code& error);

private:
    int fd_ = -1;
};

}  // namespace wxr
