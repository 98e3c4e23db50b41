#include "app/cli/shell_words.h"

#include <algorithm>

namespace wxr::cli {

namespace {

// Read bare by every shell of the kind; anything else is quoted. (PowerShell
// splits a bare word at ',' and expands '@' and '{' at its start.)
constexpr char kPosixBare[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=./:,@%";
constexpr char kWindowsBare[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=./:\\";
// Expanded inside double quotes: cmd.exe's variables (and !, with delayed
// expansion), PowerShell's $ and escape, and the quote itself.
constexpr char kWindowsExpanded[] = "\"%!$`";
// PowerShell takes the typographic quotes (U+2018..U+201E) as its own quotes.
constexpr std::string_view kTypographicQuoteLead = "\xE2\x80";
constexpr unsigned char kFirstTypographicQuote = 0x98, kLastTypographicQuote = 0x9E;
constexpr unsigned char kDelete = 0x7F;
// C1 controls, U+0080..U+009F, are C2 80..C2 9F in UTF-8.
constexpr unsigned char kC1Lead = 0xC2, kC1Last = 0x9F;

bool has_typographic_quote(std::string_view word) {
    for (std::size_t at = word.find(kTypographicQuoteLead); at != std::string_view::npos;
         at = word.find(kTypographicQuoteLead, at + 1)) {
        if (at + 2 >= word.size()) return false;
        const auto third = static_cast<unsigned char>(word[at + 2]);
        if (third >= kFirstTypographicQuote && third <= kLastTypographicQuote) return true;
    }
    return false;
}

bool bare(std::string_view word, const char* set) {
    return !word.empty() && word.find_first_not_of(set) == std::string_view::npos;
}

std::string posix_quoted(std::string_view word) {
    if (bare(word, kPosixBare)) return std::string(word);
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// cmd.exe passes the quotes on; the program's own reading of its command
// line drops them. Backslashes before the closing quote are doubled, as that
// reading wants.
std::string windows_double_quoted(std::string_view word) {
    if (bare(word, kWindowsBare)) return std::string(word);
    std::string out = "\"";
    out += word;
    const std::size_t last = out.find_last_not_of('\\');
    out.append(out.size() - 1 - last, '\\');
    return out + "\"";
}

// PowerShell's literal string: nothing inside expands; a quote, ASCII or
// typographic single (U+2018..U+201B), is doubled.
std::string powershell_quoted(std::string_view word) {
    constexpr unsigned char kLastSingleQuote = 0x9B;
    std::string out = "'";
    for (std::size_t i = 0; i < word.size(); ++i) {
        const bool typographic = word.substr(i).starts_with(kTypographicQuoteLead) && i + 2 < word.size() &&
                                 static_cast<unsigned char>(word[i + 2]) >= kFirstTypographicQuote &&
                                 static_cast<unsigned char>(word[i + 2]) <= kLastSingleQuote;
        const std::size_t length = typographic ? 3 : 1;
        const std::string_view one = word.substr(i, length);
        out += one;
        if (typographic || word[i] == '\'') out += one;
        i += length - 1;
    }
    return out + "'";
}

std::string joined(const std::vector<std::string>& words, std::string (*quote)(std::string_view)) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        line += quote(word);
    }
    return line;
}

std::vector<std::string> windows_lines(const std::vector<std::string>& words) {
    const bool common = std::all_of(words.begin(), words.end(),
                                    [](const std::string& w) { return pastes_safely(w, Shell::Windows); });
    // A quoted program name is a string to PowerShell, not a command: it needs "& " first, which cmd.exe rejects.
    if (common && (words.empty() || bare(words.front(), kWindowsBare))) return {joined(words, windows_double_quoted)};
    const bool cmd = std::none_of(words.begin(), words.end(),
                                  [](const std::string& w) { return w.find_first_of("\"%") != std::string::npos; });
    return {cmd ? "cmd.exe:    " + joined(words, windows_double_quoted)
                : std::string("cmd.exe:    (a word holds \" or %, which cmd.exe cannot take: use PowerShell)"),
            "PowerShell: & " + joined(words, powershell_quoted)};
}

}  // namespace

bool is_printable_word(std::string_view word) {
    for (std::size_t i = 0; i < word.size(); ++i) {
        const auto c = static_cast<unsigned char>(word[i]);
        if (c < 0x20 || c == kDelete) return false;
        if (c < 0x80) continue;
        // Whole UTF-8 sequences only: a stray byte 0x9B is CSI to an 8-bit terminal.
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || i + length > word.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(word[i + k]) & 0xC0) != 0x80) return false;
        }
        if (c == kC1Lead && static_cast<unsigned char>(word[i + 1]) <= kC1Last) return false;
        i += length - 1;
    }
    return true;
}

bool pastes_safely(std::string_view word, Shell shell) {
    if (word.empty() || !is_printable_word(word)) return false;
    if (shell == Shell::Posix) return true;
    return word.find_first_of(kWindowsExpanded) == std::string_view::npos && word.back() != '\\' &&
           !has_typographic_quote(word);
}

std::vector<std::string> shell_lines(const std::vector<std::string>& words, Shell shell) {
    if (!std::all_of(words.begin(), words.end(), [](const std::string& w) { return is_printable_word(w); })) {
        return {"(a word holds a control character: type the command yourself)"};
    }
    if (shell == Shell::Posix) return {joined(words, posix_quoted)};
    return windows_lines(words);
}

}  // namespace wxr::cli
