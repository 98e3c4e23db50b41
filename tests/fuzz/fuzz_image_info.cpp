// The info block parse and the info text, checked against the image format's
// rules rather than against the parser's own code: checksum, the first marker
// at an offset of 1 or more that lies wholly before the image's last byte,
// info bytes read as 0 past the image, the customer text only behind two tag
// bytes, and the exact layout of the info text.
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "image/image_info.h"
#include "tests/fuzz/fuzz_check.h"

namespace wxr::fuzz {
namespace {

// Strict UTF-8 (no overlong forms, surrogates or code points past U+10FFFF),
// decoded to UTF-16; nullopt when invalid. The fuzzer runs in C.UTF-8.
std::optional<std::u16string> decode_utf8(const std::string& bytes) {
    static constexpr unsigned char kLeadMask[] = {0x7F, 0x1F, 0x0F, 0x07};
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2
                                : (lead & 0xF8) == 0xF0 ? 3 : 4;
        if (extra == 4 || i + extra >= bytes.size()) return std::nullopt;
        char32_t code = lead & kLeadMask[extra];
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += 1 + extra;
    }
    return out;
}

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// What the rules say a record must hold after parsing `image`.
struct Expected {
    int result = 0;
    std::uint32_t checksum = 0;
    std::uint8_t model = 0, version = 255, sensor = 255, info7 = 0, info8 = 0, info9 = 0, info10 = 0;
    std::u16string customer;
};

Expected expected_for(const std::vector<std::uint8_t>& image) {
    Expected e;
    for (std::uint8_t b : image) e.checksum = (e.checksum + b) % 65536;
    const auto size = static_cast<std::ptrdiff_t>(image.size());
    auto at = [&](std::ptrdiff_t i) -> std::uint8_t { return i >= 0 && i < size ? image[i] : 0; };
    for (std::ptrdiff_t p = 1; p < size - 4; ++p) {
        if (at(p) != 0x0C || at(p + 1) != 0x12 || at(p + 2) != 0x03 || at(p + 3) != 0x05) continue;
        e.result = 1;
        e.model = at(p + 4);
        e.version = at(p + 5);
        e.sensor = at(p + 6);
        e.info7 = at(p + 7);
        e.info8 = at(p + 8);
        e.info9 = at(p + 9);
        e.info10 = at(p + 10);
        if (at(p - 20) == 0x12 && at(p - 19) == 0x12) {
            std::string text;
            for (std::ptrdiff_t i = p - 16; i < p + 4 && at(i) != 0; ++i) text.push_back(static_cast<char>(at(i)));
            e.customer = decode_utf8(text).value_or(u"");
        }
        break;
    }
    return e;
}

std::u16string expected_model_name(std::uint8_t model) {
    if (model >= 40) return u"";
    return widen(std::string("TQ") + char('0' + model / 10) + char('0' + model % 10));
}

std::u16string expected_sensor_name(std::uint8_t sensor) {
    static const char* const kNames[] = {"", "LX100", "LX200", "LX300", "LX400", "LX500", "LX600", "LX400IR"};
    return sensor < 8 ? widen(kNames[sensor]) : u"";
}

std::u16string expected_text(const ImageInfo& info) {
    char lines[256];
    std::snprintf(lines, sizeof lines, "Size: %d bytes\r\nModel: %s\r\nVer.: %d\r\nChecksum: %04X\r\nSensor: ",
                  static_cast<int>(info.size), "\x01", info.version, static_cast<unsigned>(info.checksum));
    std::u16string text = widen(lines);
    text.replace(text.find(u'\x01'), 1, info.model_name);
    text += info.sensor_name;
    if (!info.customer.empty()) text = u"Customer: " + info.customer + u"\n" + text;
    return text;
}

// The first byte picks how the caller's length relates to its buffer.
std::int32_t length_for(std::uint8_t mode, std::size_t image_size) {
    switch (mode) {
    case 0xF0: return -1;
    case 0xF1: return std::numeric_limits<std::int32_t>::min();
    case 0xF2: return static_cast<std::int32_t>(image_size) + 1;
    case 0xF3: return std::numeric_limits<std::int32_t>::max();
    default: return static_cast<std::int32_t>(image_size);
    }
}

}  // namespace
}  // namespace wxr::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wxr;
    using namespace wxr::fuzz;
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    std::vector<std::uint8_t> image(data + 1, data + size);
    // Callers' buffers are zero past the image; how far varies.
    std::vector<std::uint8_t> buffer = image;
    buffer.resize(image.size() + (mode < 0xF0 ? mode : 0), 0);
    const std::int32_t length = length_for(mode, image.size());
    const std::vector<std::uint8_t> seen = length < 0 ? std::vector<std::uint8_t>{} : image;

    ImageInfo info;
    info.info7 = 0xA5;
    info.model_name = u"untouched model";
    info.sensor_name = u"untouched sensor";
    info.customer = u"stale";
    const int result = parse_image_info(buffer, length, info);
    const Expected e = expected_for(seen);

    check(result == e.result, "result is 1 exactly when a marker lies at 1 .. length-5");
    check(info.size == static_cast<std::int32_t>(seen.size()), "size is the image length");
    check(info.checksum == e.checksum, "checksum is the byte sum modulo 65536");
    check(info.model == e.model && info.version == e.version && info.sensor == e.sensor,
          "model, version and sensor come from marker+4..+6 (0, 255, 255 without a block)");
    check(info.info8 == e.info8 && info.info9 == e.info9 && info.info10 == e.info10, "info8..10");
    check(info.customer == e.customer, "customer text only behind both tag bytes, up to the first zero");
    if (result == 1) {
        check(info.info7 == e.info7, "info7 from marker+7");
        check(info.model_name == expected_model_name(info.model), "model name from the table");
        check(info.sensor_name == expected_sensor_name(info.sensor), "sensor name from the table");
    } else {
        check(info.info7 == 0xA5 && info.model_name == u"untouched model" &&
                  info.sensor_name == u"untouched sensor",
              "a parse without a block leaves info7 and the names alone");
        info.model_name.clear();
        info.sensor_name.clear();
    }
    check(format_image_info(info) == expected_text(info), "info text layout");
    return 0;
}
