// UTF-16 as the dialog classes hold it and as the wide Win32 calls take it:
// wchar_t is 16 bits on Windows, so the conversion is a copy.
#pragma once

#include <string>
#include <string_view>

namespace wxr::app::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace wxr::app::win32
