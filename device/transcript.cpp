#include "device/transcript.h"

#include <charconv>
#include <ostream>

namespace wxr {

void Transcript::add(std::string line) {
    std::lock_guard lock(mutex_);
    if (out_) {
        // Kept nowhere else: a station writing devices all day would fill memory.
        *out_ << line << '\n' << std::flush;
        return;
    }
    lines_.push_back(std::move(line));
}

std::vector<std::string> Transcript::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::size_t Transcript::size() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

void Transcript::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

namespace {

std::string_view next_word(std::string_view& rest) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    std::size_t end = rest.find(' ');
    std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return word;
}

std::optional<std::vector<std::uint8_t>> parse_hex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto [ptr, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, out[i], 16);
        if (ec != std::errc{} || ptr != text.data() + 2 * i + 2) return std::nullopt;
    }
    return out;
}

bool is_pathless(std::string_view op) { return op == "sleep" || op == "enumerate"; }

}  // namespace

std::optional<TranscriptLine> parse_transcript_line(std::string_view line) {
    TranscriptLine out;
    std::string_view rest = line;
    std::string_view ms = next_word(rest);
    if (std::from_chars(ms.data(), ms.data() + ms.size(), out.ms).ec != std::errc{}) return std::nullopt;
    std::string_view word = next_word(rest);
    if (!is_pathless(word)) {
        out.path = std::string(word);
        word = next_word(rest);
    }
    if (word.empty()) return std::nullopt;
    out.op = std::string(word);
    std::string_view save = rest;
    if (next_word(rest) == "failed") {
        out.failed = true;
    } else {
        rest = save;
    }
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (out.op == "set" || out.op == "get") {
        if (!rest.empty()) {
            auto bytes = parse_hex(rest);
            if (!bytes) return std::nullopt;
            out.bytes = std::move(*bytes);
        }
    } else {
        out.detail = std::string(rest);
    }
    return out;
}

}  // namespace wxr
