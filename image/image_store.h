// The image store, filled once from the embedded image, and the reading of
// image files picked by the user.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "image/image_info.h"

namespace wxr {

inline constexpr std::int32_t kImageStoreCapacity = 65'536;
inline constexpr std::int32_t kFileBufferCapacity = 131'072;

// All bytes past `length` are zero: the info block parse relies on it.
struct ImageStore {
    std::array<std::uint8_t, kImageStoreCapacity> bytes{};
    std::int32_t length = 0;
};

// The model byte a device must report to be listed: written by the dialog
// thread, read by the probe threads of discovery.
using ExpectedModel = std::atomic<std::uint8_t>;

// A file that opened but could not be measured or read.
class FileError : public std::runtime_error {
public:
    FileError(std::error_code cause, std::u16string file_name);
    std::error_code cause() const noexcept { return cause_; }
    const std::u16string& file_name() const noexcept { return file_name_; }

private:
    std::error_code cause_;
    std::u16string file_name_;
};

// Copies the embedded image into the store and zeroes the rest of it. A
// missing, empty or oversize resource leaves length 0 and the bytes as they were.
void load_embedded_image(ImageStore& store);

// Zeroes the first `capacity` bytes of `buffer` (at most all of it) and reads
// the file at `path` into them. Returns the number of bytes read; 0 when the
// file cannot be opened, is no regular file, is empty, or is longer than the
// capacity (refused whole rather than cut). Throws FileError when reading
// fails after the open. Paths travel in the system's own form (bytes on
// POSIX, UTF-16 on Windows); the text form serves names the system cannot
// hold (a lone surrogate on POSIX) as files that cannot be opened.
std::int32_t read_file_to_buffer(std::span<std::uint8_t> buffer, std::int32_t capacity,
                                 const std::filesystem::path& path);
std::int32_t read_file_to_buffer(std::span<std::uint8_t> buffer, std::int32_t capacity,
                                 const std::u16string& path);

// Reads the file into a fresh file buffer and parses it. Returns 1 when the
// file holds an info block; `size` is 0 when nothing could be read.
int read_image_file_info(const std::filesystem::path& path, ImageInfo& info);
int read_image_file_info(const std::u16string& path, ImageInfo& info);

// A path given as UTF-8 text, as the command line's arguments are: its bytes
// as they stand on POSIX, valid UTF-8 or not; UTF-16 on Windows.
std::filesystem::path file_path_from_utf8(std::string_view text);

}  // namespace wxr
