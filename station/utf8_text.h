// Texts the page's outputs carry from files and names given to the station:
// Prometheus and browsers take only UTF-8, and one bad byte in a label makes
// Prometheus drop the whole scrape.
#pragma once

#include <string>
#include <string_view>

namespace wxr::station {

bool is_utf8(std::string_view text);
// The text with each byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD.
std::string as_utf8(std::string_view text);

}  // namespace wxr::station
