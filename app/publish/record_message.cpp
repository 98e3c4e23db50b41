#include "app/publish/record_message.h"

#include <nlohmann/json.hpp>

namespace wxr::publish {

namespace {

using nlohmann::json;

std::optional<std::string> text_field(const json& record, const char* key) {
    const auto it = record.find(key);
    if (it == record.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

}  // namespace

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
    message.id = *station + "/" + std::to_string(visit->get<long long>()) + "/" + *kind;
    // The record goes out byte for byte as the log holds it.
    message.payload = "{\"id\":" + json(message.id).dump(-1, ' ', false, json::error_handler_t::replace) +
                      ",\"record\":" + line + "}";
    return message;
}

}  // namespace wxr::publish
