#include "app/publish/record_message.h"

#include <charconv>
#include <chrono>

#include <nlohmann/json.hpp>

namespace wxr::publish {

namespace {

using nlohmann::json;

std::optional<std::string> text_field(const json& record, const char* key) {
    const auto it = record.find(key);
    if (it == record.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// The digits of `text` from `at`, `n` of them exactly.
std::optional<int> digits(const std::string& text, std::size_t at, std::size_t n) {
    int value = 0;
    const char* end = text.data() + at + n;
    const auto [past, ec] = std::from_chars(text.data() + at, end, value);
    if (ec != std::errc{} || past != end || text[at] == '-' || text[at] == '+') return std::nullopt;
    return value;
}

// "YYYY-MM-DDTHH:MM:SSZ", as the station writes its records' time.
std::optional<long long> utc_seconds(const std::string& text) {
    constexpr std::string_view kForm = "YYYY-MM-DDTHH:MM:SSZ";
    if (text.size() != kForm.size()) return std::nullopt;
    for (std::size_t i = 0; i < kForm.size(); ++i) {
        const bool digit = kForm[i] >= 'A' && kForm[i] <= 'Z' && kForm[i] != 'T' && kForm[i] != 'Z';
        if (!digit && text[i] != kForm[i]) return std::nullopt;
    }
    const auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    const auto h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 60) return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)}, day{static_cast<unsigned>(*d)}};
    if (!date.ok()) return std::nullopt;
    const auto days = sys_days(date).time_since_epoch();
    return duration_cast<seconds>(days).count() + *h * 3600LL + *mi * 60LL + *s;
}

std::optional<long long> time_of(const json& record) {
    const auto time = text_field(record, "time");
    return time ? utc_seconds(*time) : std::nullopt;
}

}  // namespace

std::optional<long long> record_time(const std::string& line) {
    const json record = json::parse(line, nullptr, false);
    if (!record.is_object()) return std::nullopt;
    return time_of(record);
}

std::string station_id(const std::string& host, const std::string& station_start) {
    return host + "@" + station_start;
}

std::optional<RecordMessage> record_message(const std::string& line) {
    const json record = json::parse(line, nullptr, false);
    if (!record.is_object()) return std::nullopt;
    auto station = text_field(record, "station");
    if (!station) {
        auto host = text_field(record, "host"), start = text_field(record, "station_start");
        if (!host || !start) return std::nullopt;
        station = station_id(*host, *start);
    }
    const auto kind = text_field(record, "record");
    const auto visit = record.find("visit");
    if (!kind || visit == record.end() || !visit->is_number_integer()) return std::nullopt;
    RecordMessage message;
    message.time = time_of(record);
    message.id = *station + "/" + std::to_string(visit->get<long long>()) + "/" + *kind;
    // The record goes out byte for byte as the log holds it.
    message.payload = "{\"id\":" + json(message.id).dump(-1, ' ', false, json::error_handler_t::replace) +
                      ",\"record\":" + line + "}";
    return message;
}

}  // namespace wxr::publish
