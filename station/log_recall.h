// What a station's own --log says it wrote, read when it starts. A unit
// written and not yet switched off and on still reports its old version, so
// a restarted station would write it again: one on the bench at the start
// that it wrote with the image it would write now, and that still reports the
// version it had then, is told as skipped until it has left the bench. The log has no record of a unit
// leaving, and a unit is known again only by a serial of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "image/image_info.h"

namespace wxr::station {

// How much of the log's end is read (and as much of the rotated LOG.1): some
// 8,000 records of about 500 bytes, days of a busy bench. A unit written
// before that and never unplugged since is written again.
inline constexpr std::size_t kRecallBytes = std::size_t{4} << 20;
// Longer than any record: a longer line is no record and is not parsed.
inline constexpr std::size_t kMaxRecordBytes = std::size_t{64} << 10;

// A unit's last write, when it succeeded, as its record tells it.
struct WrittenUnit {
    std::int64_t at = 0;      // the record's time, seconds since 1970 (UTC)
    int version_before = -1;  // what the unit reported before the write
    int model = -1, sensor = -1, version = -1;  // the image it got
    std::string checksum;                       // as records write it ("1A2B")
};

class WrittenUnits {
public:
    // One line of the log. A success of a unit with a serial of its own is
    // kept; a later start for that serial (a write begun again, its outcome
    // unknown until its result) drops it. Anything else, a line that is no
    // record, and a record of another host are passed over.
    void read_line(std::string_view line, const std::string& host);
    // The end of LOG.1, if there is one, then of the log; a log that does not
    // exist yet holds nothing. A line cut by the bound or torn by a crash is
    // passed over.
    void read_log(const std::string& path, const std::string& host);

    const WrittenUnit* find(const std::string& serial) const;
    // A unit with this serial left the bench: switched off, it runs what it holds.
    void forget(const std::string& serial) { units_.erase(serial); }
    // Only the units on the bench at the start: one plugged in later has been
    // switched off (and one reporting the serial of a unit written and taken
    // away, a placeholder serial, must be written).
    template <typename Present>
    void keep_only(Present present) {
        std::erase_if(units_, [&](const auto& unit) { return !present(unit.first); });
    }
    std::size_t size() const { return units_.size(); }

private:
    std::unordered_map<std::string, WrittenUnit> units_;
};

// Whether the image is the one the record says the unit got (by what the
// unit holds, not the file's name).
bool same_image(const WrittenUnit& unit, const ImageInfo& image);
// "written by this station at 10:42, not yet power-cycled", the local time.
std::string written_before_text(const WrittenUnit& unit);
// "2026-12-08T04:33:42Z" as seconds since 1970; nullopt for anything else.
std::optional<std::int64_t> utc_seconds(std::string_view text);

}  // namespace wxr::station
