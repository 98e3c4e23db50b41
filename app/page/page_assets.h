// The page, its style and its script, built into the program from web/:
// a station is often offline, so nothing is loaded from elsewhere.
#pragma once

#include <string_view>

namespace wxr::page {

extern const std::string_view kPageHtml;
extern const std::string_view kPageCss;
extern const std::string_view kPageJs;

}  // namespace wxr::page
