// Reading image files: whatever a file holds, read_file_to_buffer gives its
// bytes exactly when they fit the capacity (0 otherwise), leaves zeros up to
// the capacity and never writes past it; read_image_file_info reports what
// the same bytes parse to in a zero-filled file buffer, or 0 with size 0 for
// an empty or oversize file.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "image/image_store.h"
#include "tests/fuzz/fuzz_check.h"

namespace wxr::fuzz {
namespace {

constexpr std::uint8_t kUntouched = 0xAA;
constexpr std::size_t kSlack = 64;  // buffer bytes past the capacity that must stay untouched

std::string& file_name() {
    static std::string name;
    return name;
}

void write_file(const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(file_name().c_str(), "wb");
    check(file != nullptr, "the scratch file can be written");
    if (!bytes.empty()) check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "file written");
    std::fclose(file);
}

// The first byte chooses the capacity around the file's length, an odd one,
// or a file at the edge of the file buffer's 131,072 bytes.
std::int32_t capacity_for(std::uint8_t mode, std::vector<std::uint8_t>& content) {
    if (mode == 0xF0) return -1;
    if (mode == 0xF1) return std::numeric_limits<std::int32_t>::max();
    if (mode >= 0xF2 && mode <= 0xF4) {
        content.resize(static_cast<std::size_t>(kFileBufferCapacity) + mode - 0xF3, 0x5A);
        return kFileBufferCapacity;
    }
    return std::max<std::int32_t>(0, static_cast<std::int32_t>(content.size()) + mode % 9 - 4);
}

void check_buffer_read(const std::vector<std::uint8_t>& content, std::int32_t capacity) {
    const std::size_t room = std::min<std::size_t>(std::max(capacity, 0), content.size() + kSlack);
    std::vector<std::uint8_t> buffer(content.size() + kSlack, kUntouched);
    std::int32_t length = -1;
    try {
        length = read_file_to_buffer(buffer, capacity, std::u16string(file_name().begin(), file_name().end()));
    } catch (const FileError&) {
        fail("a regular file that opened reads without error");
    }
    const bool fits = !content.empty() && content.size() <= room;
    check(length == (fits ? static_cast<std::int32_t>(content.size()) : 0),
          "the length read is the file's when it fits the capacity, else 0");
    const std::size_t copied = fits ? content.size() : 0;
    check(std::equal(content.begin(), content.begin() + copied, buffer.begin()), "the file's bytes, unchanged");
    check(std::all_of(buffer.begin() + copied, buffer.begin() + room, [](auto b) { return b == 0; }),
          "zeros after the file up to the capacity");
    check(std::all_of(buffer.begin() + room, buffer.end(), [](auto b) { return b == kUntouched; }),
          "nothing written past the capacity");
}

bool same_info(const ImageInfo& a, const ImageInfo& b) {
    return a.size == b.size && a.checksum == b.checksum && a.model == b.model && a.version == b.version &&
           a.sensor == b.sensor && a.info7 == b.info7 && a.info8 == b.info8 && a.info9 == b.info9 &&
           a.info10 == b.info10 && a.customer == b.customer && a.model_name == b.model_name &&
           a.sensor_name == b.sensor_name;
}

void check_info_read(const std::vector<std::uint8_t>& content) {
    ImageInfo from_file;
    int result = -1;
    try {
        result = read_image_file_info(std::u16string(file_name().begin(), file_name().end()), from_file);
    } catch (const FileError&) {
        fail("a regular file that opened reads without error");
    }
    if (content.empty() || content.size() > static_cast<std::size_t>(kFileBufferCapacity)) {
        check(result == 0 && from_file.size == 0, "an empty or oversize file gives 0 and size 0");
        return;
    }
    // Kept between runs: fresh pages for every run cost more than the run.
    static std::vector<std::uint8_t> buffer(kFileBufferCapacity, 0);
    std::fill(buffer.begin(), buffer.end(), 0);
    std::copy(content.begin(), content.end(), buffer.begin());
    ImageInfo in_memory;
    const int expected = parse_image_info(buffer, static_cast<std::int32_t>(content.size()), in_memory);
    check(result == expected && same_info(from_file, in_memory), "a file parses as its bytes do");
}

}  // namespace
}  // namespace wxr::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/wxr-fuzz-XXXXXX";
    wxr::fuzz::check(mkdtemp(dir.data()) != nullptr, "a scratch directory");
    wxr::fuzz::file_name() = dir + "/image.bin";
    // The directory goes when the run ends, however often the fuzzer forks.
    std::atexit([] {
        std::remove(wxr::fuzz::file_name().c_str());
        rmdir(wxr::fuzz::file_name().substr(0, wxr::fuzz::file_name().rfind('/')).c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wxr::fuzz;
    if (size == 0) return 0;
    std::vector<std::uint8_t> content(data + 1, data + size);
    const std::int32_t capacity = capacity_for(data[0], content);
    write_file(content);
    check_buffer_read(content, capacity);
    check_info_read(content);
    return 0;
}
