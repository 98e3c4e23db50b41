#include "station/log_recall.h"

#include <algorithm>
#include <chrono>
#include <fstream>

#include <nlohmann/json.hpp>

#include "device/host.h"
#include "image/image_store.h"
#include "station/record_json.h"

namespace wxr::station {

namespace {

using nlohmann::json;

// The name logrotate gives the log it has just renamed (delaycompress keeps it plain).
constexpr char kRotatedSuffix[] = ".1";

// The digits at [from, from + count), or -1.
int number_at(std::string_view text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int int_or(const json& record, const char* key, int otherwise) {
    auto it = record.find(key);
    return it != record.end() && it->is_number_integer() ? it->get<int>() : otherwise;
}

std::string text_or_empty(const json& record, const char* key) {
    auto it = record.find(key);
    return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<WrittenUnit> written_unit(const json& record) {
    const auto image = record.find("image");
    const auto at = utc_seconds(text_or_empty(record, "time"));
    if (image == record.end() || !image->is_object() || !at) return std::nullopt;
    WrittenUnit unit;
    unit.at = *at;
    unit.version_before = int_or(record, "version_before", -1);
    unit.model = int_or(*image, "model", -1);
    unit.sensor = int_or(*image, "sensor", -1);
    unit.version = int_or(*image, "version", -1);
    unit.checksum = text_or_empty(*image, "checksum");
    return unit;
}

// The whole lines of the file's last `bound` bytes, each handed on.
template <typename Take>
void read_tail(const std::string& path, std::size_t bound, Take take) {
    std::ifstream in(file_path_from_utf8(path), std::ios::binary | std::ios::ate);
    if (!in) return;
    const std::streamoff size = in.tellg();
    if (size <= 0) return;
    const std::streamoff from = std::max<std::streamoff>(0, size - static_cast<std::streamoff>(bound));
    std::string bytes(static_cast<std::size_t>(size - from), '\0');
    in.seekg(from);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    std::size_t begin = 0;
    // A line the bound cut through is no record.
    if (from > 0) begin = bytes.find('\n') == std::string::npos ? bytes.size() : bytes.find('\n') + 1;
    // Only lines with their end: a last line without one was torn.
    for (std::size_t end; (end = bytes.find('\n', begin)) != std::string::npos; begin = end + 1) {
        take(std::string_view(bytes).substr(begin, end - begin));
    }
}

}  // namespace

void WrittenUnits::read_line(std::string_view line, const std::string& host) {
    if (line.size() > kMaxRecordBytes) return;
    const json record = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!record.is_object() || text_or_empty(record, "host") != host) return;
    const std::string serial = text_or_empty(record, "serial");
    if (serial.empty()) return;
    const std::string kind = text_or_empty(record, "record");
    if (kind == "start") {
        units_.erase(serial);
        return;
    }
    // A serial shared by units present together names none of them ("visit 7").
    if (kind != "result" || text_or_empty(record, "result") != "success" ||
        text_or_empty(record, "unit") != "serial " + serial) {
        return;
    }
    if (auto unit = written_unit(record)) units_[serial] = std::move(*unit);
}

void WrittenUnits::read_log(const std::string& path, const std::string& host) {
    for (const std::string& file : {path + kRotatedSuffix, path}) {
        read_tail(file, kRecallBytes, [&](std::string_view line) { read_line(line, host); });
    }
}

const WrittenUnit* WrittenUnits::find(const std::string& serial) const {
    auto it = units_.find(serial);
    return it == units_.end() ? nullptr : &it->second;
}

bool same_image(const WrittenUnit& unit, const ImageInfo& image) {
    return unit.model == image.model && unit.sensor == image.sensor && unit.version == image.version &&
           unit.checksum == image_checksum_text(image);
}

std::string written_before_text(const WrittenUnit& unit) {
    std::string clock = local_clock_text(unit.at);
    return "written by this station at " + (clock.empty() ? std::string("an earlier start") : clock) +
           ", not yet power-cycled";
}

std::optional<std::int64_t> utc_seconds(std::string_view text) {
    // 2026-12-08T04:33:42Z
    constexpr std::size_t kLength = 20;
    if (text.size() != kLength || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    const int year = number_at(text, 0, 4), month = number_at(text, 5, 2), day = number_at(text, 8, 2);
    const int hour = number_at(text, 11, 2), minute = number_at(text, 14, 2), second = number_at(text, 17, 2);
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (year < 0 || month < 0 || day < 0 || !date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60) {
        return std::nullopt;
    }
    const auto days = std::chrono::sys_days(date).time_since_epoch().count();
    return std::int64_t{days} * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace wxr::station
