#include "station/record_json.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "device/channel.h"

namespace wxr::station {

namespace {

using nlohmann::json;

std::string line(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

json text_or_null(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json outcome_fields(const RunReport& report) {
    json object = {
        {"result", result_name(report.result)},
        {"seconds", static_cast<double>(report.ms) / 1000.0},
        {"version_after", report.version_after ? json(*report.version_after) : json(nullptr)},
    };
    if (!report.detail.empty()) object["detail"] = report.detail;
    if (!report.phase.empty()) object["phase"] = report.phase;
    if (report.block >= 0) object["block"] = report.block;
    return object;
}

json device_fields(const DevicePath& path, const ImageInfo& device) {
    return {
        {"path", to_utf8(path)},
        {"model", device.model},
        {"model_name", to_utf8(device.model_name)},
        {"sensor", device.sensor},
        {"sensor_name", to_utf8(device.sensor_name)},
        {"version", device.version},
    };
}

}  // namespace

std::string image_json(const ImageInfo& image, const std::optional<std::string>& upgrade_refuses) {
    json object = {
        {"customer", to_utf8(image.customer)},
        {"size", image.size},
        {"checksum", image.checksum},
        {"checksum_hex", image_checksum_text(image)},
        {"model", image.model},
        {"model_name", to_utf8(image.model_name)},
        {"version", image.version},
        {"sensor", image.sensor},
        {"sensor_name", to_utf8(image.sensor_name)},
    };
    if (upgrade_refuses) object["upgrade_refuses"] = *upgrade_refuses;
    return line(object);
}

std::string device_json(const DevicePath& path, const ImageInfo& device, const std::string& location,
                        const std::string& serial, const BenchImage* fit, bool named_images) {
    json object = device_fields(path, device);
    object["location"] = text_or_null(location);
    object["serial"] = text_or_null(serial);
    object["fits"] = fit != nullptr;
    if (named_images) object["image"] = fit ? json(fit->name) : json(nullptr);
    return line(object);
}

std::string unanswered_json(const DevicePath& path, const std::string& location, const std::string& serial,
                            const std::string& state, const std::string& detail) {
    json object = {{"path", to_utf8(path)}, {"location", text_or_null(location)}, {"serial", text_or_null(serial)},
                   {"state", state}, {"detail", detail}};
    return line(object);
}

namespace {

// What a unit that never answered cannot tell.
void forget_device(json& object) {
    for (const char* key : {"model", "model_name", "sensor", "sensor_name", "version"}) object[key] = nullptr;
}

}  // namespace



std::string report_json(const RunReport& report, const std::optional<SimulationCheck>& check) {
    json object = device_fields(report.path, report.device);
    if (!report.answered) forget_device(object);
    object["location"] = text_or_null(report.location);
    object["serial"] = text_or_null(report.serial);
    object["station"] = report.station;
    object["visit"] = report.visit;
    object["unit"] = report.unit;
    object["image"] = report.image ? json(report.image->name) : json(nullptr);
    object.update(outcome_fields(report));
    if (!report.recorded) object["recorded"] = false;
    if (check) {
        object["simulated_flash_equals_image"] = check->flash_equals_image;
        object["simulated_end_report_matches"] = check->end_report_matches;
    }
    return line(object);
}

std::string summary_json(const ResultTally& tally, std::optional<long> left_alone) {
    json summary = {
        {"units", tally.total()},
        {"attempts", tally.attempts()},
        {"success", tally.of(RunResult::Success)},
        {"failed", tally.of(RunResult::Failed)},
        {"refused", tally.of(RunResult::Refused)},
        {"skipped", tally.of(RunResult::Skipped)},
        {"no_answer", tally.of(RunResult::NoAnswer)},
        {"not_written", tally.of(RunResult::NotWritten)},
    };
    if (left_alone) summary["left_alone"] = *left_alone;
    return line({{"summary", summary}});
}

std::string image_checksum_text(const ImageInfo& image) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(image.checksum & 0xFFFF));
    return text;
}

namespace {

json image_object(const BenchImage* image) {
    if (!image) return nullptr;
    return {
        {"file", image->name},
        {"model", image->info.model},
        {"sensor", image->info.sensor},
        {"version", image->info.version},
        {"checksum", image_checksum_text(image->info)},
    };
}

}  // namespace

std::string log_json(const RunReport& report, const std::optional<SimulationCheck>& check, const LogStamp& stamp) {
    json object = {
        {"record", stamp.record == LogRecord::Start ? "start" : "result"},
        {"time", stamp.time},
        {"host", stamp.host},
        {"station", report.station},
        {"station_start", stamp.started},
        {"visit", report.visit},
        {"unit", report.unit},
        {"path", to_utf8(report.path)},
        {"location", text_or_null(report.location)},
        {"serial", text_or_null(report.serial)},
        {"model", report.device.model},
        {"sensor", report.device.sensor},
        {"version_before", report.device.version},
        {"image", image_object(report.image)},
    };
    if (!report.answered) object["model"] = object["sensor"] = object["version_before"] = nullptr;
    if (stamp.record == LogRecord::Result) object.update(outcome_fields(report));
    if (check) object["simulated_flash_equals_image"] = check->flash_equals_image;
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace wxr::station
