// The calling thread's ANSI code page, as the customer text was written in it.
#include <windows.h>

#include <climits>

#include "image/ansi_text.h"

namespace wxr {

std::optional<std::u16string> ansi_to_utf16(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.empty()) {
        return std::u16string{};
    }
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const int in_length = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), in_length, nullptr, 0);
    if (units <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), in_length, wide.data(), units) != units) {
        return std::nullopt;
    }
    return std::u16string(wide.begin(), wide.end());
}

}  // namespace wxr
