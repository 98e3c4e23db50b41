#include "app/cli/screen_text.h"

#include <algorithm>

#include "app/cli/output.h"

namespace wxr::cli {

namespace {

constexpr char kEllipsis[] = "\u2026";
// The longest result word, "not written": the words' column is this wide.
constexpr std::size_t kWordColumns = 11;

// The length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t sequence_length(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

char32_t decode(std::string_view text, std::size_t at, std::size_t length) {
    auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[at + i])); };
    if (length == 1 || at + length > text.size()) return byte(0);
    char32_t c = byte(0) & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (byte(i) & 0x3F);
    return c;
}

bool is_wide(char32_t c) {
    constexpr std::pair<char32_t, char32_t> kWide[] = {
        {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF},
        {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F}, {0xFF00, 0xFF60},
        {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
    };
    return std::any_of(std::begin(kWide), std::end(kWide), [&](auto range) { return c >= range.first && c <= range.second; });
}

// Calls each(start, length, columns) for every character.
template <typename Each>
void for_each_character(std::string_view text, Each each) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = std::min(sequence_length(static_cast<unsigned char>(text[at])), text.size() - at);
        if (!each(at, length, is_wide(decode(text, at, length)) ? std::size_t{2} : std::size_t{1})) return;
        at += length;
    }
}

}  // namespace

std::size_t text_columns(std::string_view utf8) {
    std::size_t columns = 0;
    for_each_character(utf8, [&](std::size_t, std::size_t, std::size_t width) { return (columns += width), true; });
    return columns;
}

std::string cut_to_columns(std::string_view utf8, std::size_t columns) {
    std::size_t used = 0, end = 0;
    for_each_character(utf8, [&](std::size_t at, std::size_t length, std::size_t width) {
        if (used + width > columns) return false;
        used += width;
        end = at + length;
        return true;
    });
    return std::string(utf8.substr(0, end));
}

std::string fit_columns_keep_end(std::string_view utf8, std::size_t columns) {
    const std::size_t width = text_columns(utf8);
    if (width <= columns) return std::string(utf8) + std::string(columns - width, ' ');
    if (columns == 0) return {};
    // Drop characters from the front until the rest and the ellipsis fit.
    std::size_t drop = width - (columns - 1), dropped = 0, start = 0;
    for_each_character(utf8, [&](std::size_t at, std::size_t length, std::size_t w) {
        if (dropped >= drop) return false;
        dropped += w;
        start = at + length;
        return true;
    });
    std::string rest(utf8.substr(start));
    return kEllipsis + rest + std::string(columns - 1 - text_columns(rest), ' ');
}

std::vector<std::string> wrap_words(std::string_view utf8, std::size_t first, std::size_t rest) {
    std::vector<std::string> lines;
    std::string line;
    // Two columns at least: a wide character always fits.
    auto width = [&] { return std::max<std::size_t>(lines.empty() ? first : rest, 2); };
    auto end_line = [&] {
        line.erase(line.find_last_not_of(' ') + 1);
        lines.push_back(std::move(line));
        line.clear();
    };
    while (!utf8.empty()) {
        const std::size_t end = std::min(utf8.find(' ', 1), utf8.size());
        std::string_view word = utf8.substr(0, end);  // with the spaces before it
        utf8.remove_prefix(end);
        if (line.empty() && !lines.empty()) word.remove_prefix(std::min(word.find_first_not_of(' '), word.size()));
        if (text_columns(line) + text_columns(word) <= width()) {
            line += word;
            continue;
        }
        if (!line.empty()) end_line();
        word.remove_prefix(std::min(word.find_first_not_of(' '), word.size()));
        while (text_columns(word) > width()) {  // wider than a whole line
            std::string piece = cut_to_columns(word, width());
            word.remove_prefix(piece.size());
            lines.push_back(std::move(piece));
        }
        line = word;
    }
    if (!line.empty() || lines.empty()) end_line();
    return lines;
}

ResultLook result_look(RunResult result) {
    switch (result) {
        case RunResult::Success: return {"\u2713", "32"};
        case RunResult::Failed: return {"\u2717", "1;31"};
        case RunResult::Refused: return {"\u2298", "33"};
        case RunResult::Skipped: return {"=", "36"};
        case RunResult::NoAnswer: return {"\u2717", "1;31"};
        case RunResult::NotWritten: return {"\u25CB", "33"};
    }
    return {"?", "1;31"};
}

std::string result_mark(RunResult result, bool symbol, bool colour) {
    const ResultLook look = result_look(result);
    const std::string word = standing_word(result);
    std::string mark = symbol ? std::string(look.symbol) + " " + word : word;
    if (colour) mark = "\x1b[" + std::string(look.colour) + "m" + mark + "\x1b[0m";
    return mark + std::string(kWordColumns - word.size(), ' ');
}

}  // namespace wxr::cli
