#include "station/utf8_text.h"

#include <cstdint>

namespace wxr::station {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;
constexpr std::uint32_t kSurrogatesFirst = 0xD800, kSurrogatesLast = 0xDFFF;

// The length of the well-formed sequence at the text's start, else 0.
std::size_t sequence(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint32_t code = 0, least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3F);
    }
    const bool surrogate = code >= kSurrogatesFirst && code <= kSurrogatesLast;
    return code < least || code > kMaxCodePoint || surrogate ? 0 : length;
}

}  // namespace

bool is_utf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t n = sequence(text);
        if (n == 0) return false;
        text.remove_prefix(n);
    }
    return true;
}

std::string as_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t n = sequence(text);
        out.append(n ? text.substr(0, n) : std::string_view(kReplacement));
        text.remove_prefix(n ? n : 1);
    }
    return out;
}

}  // namespace wxr::station
