// Conversion of ANSI-code-page text (the customer text of an image) to UTF-16.
// Windows uses the calling thread's ANSI code page; elsewhere the multibyte
// character set of the process locale (LC_CTYPE) stands for it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wxr {

// The text ends at the first zero byte, if any. nullopt when the bytes are not
// valid in the character set.
std::optional<std::u16string> ansi_to_utf16(std::string_view bytes);

}  // namespace wxr
