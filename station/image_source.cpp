#include "station/image_source.h"

#include <filesystem>
#include <memory>
#include <sstream>
#include <ostream>
#include <system_error>

namespace wxr::station {

namespace {

// The end report carries the image length in 16 bits.
constexpr std::int32_t kMaxImageBytes = 65535;

// Command-line paths reach the open call in the system's own form.
std::filesystem::path path_of(const std::string& file) { return file_path_from_utf8(file); }

// Why a file could not be read, for the message only: the read itself
// decided on what it opened.
std::string what_is_wrong(const std::string& file, std::uintmax_t limit) {
    std::error_code ec;
    auto status = std::filesystem::status(path_of(file), ec);
    if (status.type() == std::filesystem::file_type::not_found) return "no such file";
    if (status.type() == std::filesystem::file_type::directory) return "is a directory";
    if (ec) return "cannot be read: " + ec.message();
    if (status.type() != std::filesystem::file_type::regular) return "is not a regular file";
    auto size = std::filesystem::file_size(path_of(file), ec);
    if (!ec && size == 0) return "is empty";
    if (!ec && size > limit) return "is longer than " + std::to_string(limit) + " bytes";
    return "cannot be read";
}

void complain(std::ostream& err, const std::string& file, const std::string& problem) {
    err << "wxr7305: " << file << ": " << problem << "\n";
}

}  // namespace

bool read_info_of_file(const std::string& file, ImageInfo& info, std::ostream& err) {
    try {
        if (read_image_file_info(path_of(file), info) == 1) return true;
    } catch (const FileError& error) {
        complain(err, file, "cannot be read: " + error.cause().message());
        return false;
    }
    complain(err, file, info.size > 0 ? "holds no info block" : what_is_wrong(file, kFileBufferCapacity));
    return false;
}

std::optional<std::string> upgrade_refusal(const ImageInfo& info) {
    if (info.size > kMaxImageBytes) return "it is longer than " + std::to_string(kMaxImageBytes) + " bytes";
    return std::nullopt;
}

bool load_image_into(ImageStore& store, const std::optional<std::string>& file, ImageInfo& info, std::ostream& err) {
    if (!file) {
        load_embedded_image(store);
        if (parse_image_info(store.bytes, store.length, info) == 1) return true;
        err << "wxr7305: the built-in firmware has no info block\n";
        return false;
    }
    std::int32_t length = 0;
    try {
        length = read_file_to_buffer(store.bytes, kImageStoreCapacity, path_of(*file));
    } catch (const FileError& error) {
        complain(err, *file, "cannot be read: " + error.cause().message());
        store.length = 0;
        return false;
    }
    if (length <= 0 || length > kMaxImageBytes) {
        complain(err, *file, length > kMaxImageBytes ? "is longer than " + std::to_string(kMaxImageBytes) + " bytes"
                                                     : what_is_wrong(*file, kMaxImageBytes));
        store.length = 0;
        return false;
    }
    store.length = length;
    if (parse_image_info(store.bytes, length, info) == 1) return true;
    complain(err, *file, "holds no info block");
    return false;
}

sim::Identity simulated_identity(const std::vector<std::string>& images) {
    auto store = std::make_unique<ImageStore>();
    ImageInfo info;
    std::ostringstream unused;
    std::optional<std::string> first;
    if (!images.empty()) first = images.front();
    if (!load_image_into(*store, first, info, unused)) load_image_into(*store, std::nullopt, info, unused);
    sim::Identity identity;
    identity.model = info.model;
    identity.sensor = info.sensor;
    return identity;
}

}  // namespace wxr::station
