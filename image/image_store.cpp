#include "image/image_store.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "image/embedded_image.h"
#include "image/file_read.h"

namespace wxr {

namespace {

std::optional<std::filesystem::path> to_fs_path(const std::u16string& path) {
    try {
        return std::filesystem::path(path);
    } catch (const std::exception&) {
        return std::nullopt;  // not representable on this system (e.g. a lone surrogate)
    }
}

// The file's name for messages; bytes that are no UTF-8 show as U+FFFD.
std::u16string display_name(const std::filesystem::path& path) {
    try {
        return path.u16string();
    } catch (const std::exception&) {
        std::u16string text;
        for (char c : path.string()) text += static_cast<unsigned char>(c) < 0x80 ? char16_t(c) : u'\uFFFD';
        return text;
    }
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
                                 const std::filesystem::path& path) {
    const auto room = buffer.first(std::min(static_cast<std::size_t>(std::max(capacity, 0)), buffer.size()));
    std::fill(room.begin(), room.end(), std::uint8_t{0});
    try {
        const auto length = read_regular_file(path, room);
        return length ? static_cast<std::int32_t>(*length) : 0;
    } catch (const std::system_error& error) {
        throw FileError(error.code(), display_name(path));
    }
}

std::int32_t read_file_to_buffer(std::span<std::uint8_t> buffer, std::int32_t capacity,
                                 const std::u16string& path) {
    // An empty path opens nothing, and the buffer is still zeroed.
    return read_file_to_buffer(buffer, capacity, to_fs_path(path).value_or(std::filesystem::path{}));
}

int read_image_file_info(const std::filesystem::path& path, ImageInfo& info) {
    std::vector<std::uint8_t> buffer(kFileBufferCapacity);
    const std::int32_t length = read_file_to_buffer(buffer, kFileBufferCapacity, path);
    info.size = 0;
    if (length < 1) {
        return 0;
    }
    return parse_image_info(buffer, length, info);
}

int read_image_file_info(const std::u16string& path, ImageInfo& info) {
    return read_image_file_info(to_fs_path(path).value_or(std::filesystem::path{}), info);
}

std::filesystem::path file_path_from_utf8(std::string_view text) {
    try {
        return std::filesystem::path(std::u8string(text.begin(), text.end()));
    } catch (const std::exception&) {
        return {};  // invalid UTF-8 on Windows: opens nothing
    }
}

}  // namespace wxr
