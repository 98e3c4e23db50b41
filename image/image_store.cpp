#include "image/image_store.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "image/embedded_image.h"
#include "image/image_file.h"

namespace wxr {

namespace {

std::optional<std::filesystem::path> to_fs_path(const std::u16string& path) {
    try {
        return std::filesystem::path(path);
    } catch (const std::exception&) {
        return std::nullopt;  // not representable on this system (e.g. a lone surrogate)
    }
}

// Only regular files are images; opening anything else (a directory, a pipe
// that would block) counts as not opened.
bool is_regular(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

}  // namespace

FileError::FileError(std::error_code cause, std::u16string file_name)
    : std::runtime_error("error reading image file: " + cause.message()),
      cause_(cause),
      file_name_(std::move(file_name)) {}

void load_embedded_image(ImageStore& store) {
    const auto resource = embedded_image_resource();
    if (resource.empty() || resource.size() > store.bytes.size()) {
        store.length = 0;
        return;
    }
    const auto tail = std::copy(resource.begin(), resource.end(), store.bytes.begin());
    std::fill(tail, store.bytes.end(), std::uint8_t{0});
    store.length = static_cast<std::int32_t>(resource.size());
}

std::int32_t read_file_to_buffer(std::span<std::uint8_t> buffer, std::int32_t capacity,
                                 const std::u16string& path) {
    const auto room = buffer.first(std::min(static_cast<std::size_t>(std::max(capacity, 0)), buffer.size()));
    std::fill(room.begin(), room.end(), std::uint8_t{0});

    const auto fs_path = to_fs_path(path);
    if (!fs_path || !is_regular(*fs_path)) {
        return 0;
    }
    ImageFile file(*fs_path);
    if (!file.is_open()) {
        return 0;
    }
    std::error_code error;
    const auto length = file.size(error);
    if (!length) {
        throw FileError(error, path);
    }
    if (*length > room.size()) {
        return 0;
    }
    const auto got = file.read(room.first(static_cast<std::size_t>(*length)), error);
    if (!got) {
        throw FileError(error, path);
    }
    // A file that shrank since it was measured gives what it still had.
    return static_cast<std::int32_t>(*got);
}

int read_image_file_info(const std::u16string& path, ImageInfo& info) {
    std::vector<std::uint8_t> buffer(kFileBufferCapacity);
    const std::int32_t length = read_file_to_buffer(buffer, kFileBufferCapacity, path);
    info.size = 0;
    if (length < 1) {
        return 0;
    }
    return parse_image_info(buffer, length, info);
}

}  // namespace wxr
