// The process locale's multibyte character set stands for the ANSI code page.
#include <cwchar>

#include "image/ansi_text.h"

namespace wxr {

namespace {

constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kLowSurrogateBase = 0xDC00;

bool append_utf16(std::u16string& out, wchar_t wide) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        out.push_back(static_cast<char16_t>(wide));
        return true;
    } else {
        const auto code = static_cast<char32_t>(wide);
        if (code > kLastCodePoint || (code >= kSurrogateFirst && code <= kSurrogateLast)) {
            return false;
        }
        if (code < kFirstSupplementary) {
            out.push_back(static_cast<char16_t>(code));
            return true;
        }
        const char32_t offset = code - kFirstSupplementary;
        out.push_back(static_cast<char16_t>(kSurrogateFirst + (offset >> 10)));
        out.push_back(static_cast<char16_t>(kLowSurrogateBase + (offset & 0x3FF)));
        return true;
    }
}

}  // namespace

std::optional<std::u16string> ansi_to_utf16(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::u16string out;
    std::mbstate_t state{};
    while (!bytes.empty()) {
        wchar_t wide = 0;
        const std::size_t used = std::mbrtowc(&wide, bytes.data(), bytes.size(), &state);
        // (size_t)-1: invalid sequence; (size_t)-2: cut off at the end.
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) || used == 0) {
            return std::nullopt;
        }
        if (!append_utf16(out, wide)) {
            return std::nullopt;
        }
        bytes.remove_prefix(used);
    }
    return out;
}

}  // namespace wxr
