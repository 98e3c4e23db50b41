// A person-readable, test-parsable record of every device operation:
//   <ms> <path> open | open failed | caps 21 | attributes 1209:7305:0100
//   <ms> <path> set 050B0000... | set failed 050B0000...
//   <ms> <path> get 0541... | get failed
//   <ms> <path> close
//   <ms> sleep 20
//   <ms> enumerate 3 | enumerate failed
#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wxr {

struct TranscriptLine {
    std::uint64_t ms = 0;
    std::string path;              // empty for sleep and enumerate
    std::string op;                // open, close, set, get, caps, attributes, sleep, enumerate
    bool failed = false;
    std::vector<std::uint8_t> bytes;  // set/get payload
    std::string detail;            // the rest of the line for other operations

    friend bool operator==(const TranscriptLine&, const TranscriptLine&) = default;
};

class Transcript {
public:
    Transcript() = default;
    // Writes each line to out as it happens instead of keeping it (the
    // command line's --trace file); lines() is then empty.
    explicit Transcript(std::ostream& out) : out_(&out) {}

    void add(std::string line);
    std::vector<std::string> lines() const;
    std::size_t size() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::ostream* out_ = nullptr;
};

std::string hex_bytes(std::span<const std::uint8_t> bytes);
std::optional<TranscriptLine> parse_transcript_line(std::string_view line);

}  // namespace wxr
