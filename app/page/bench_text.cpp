// The snapshot as JSON (the page, /status.json) and as Prometheus text (/metrics).
#include <charconv>

#include <nlohmann/json.hpp>

#include "app/page/bench_snapshot.h"
#include "station/utf8_text.h"

namespace wxr::page {

namespace {

using nlohmann::json;

template <typename T>
json or_null(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json port_json(const PortView& port) {
    return {{"label", port.label},   {"location", port.location}, {"state", port.state},
            {"result", port.result}, {"percent", or_null(port.percent)}, {"seconds", or_null(port.seconds)},
            {"serial", port.serial}, {"model", port.model},         {"where", port.where},
            {"why", port.why},       {"last", port.last},           {"last_serial", port.last_serial},
            {"last_why", port.last_why}};
}

json result_json(const ResultView& r) {
    return {{"visit", r.visit}, {"at", r.at_unix_ms}, {"port", r.port},   {"serial", r.serial},
            {"model", r.model}, {"result", r.result}, {"where", r.where}, {"why", r.why},
            {"image", r.image}, {"seconds", r.seconds}};
}

json totals_json(const BenchSnapshot& s) {
    const ResultTally& t = s.tally;
    return {{"units", t.total()},
            {"written", t.of(RunResult::Success)},
            {"failed", t.of(RunResult::Failed) + t.of(RunResult::NoAnswer)},
            {"no_answer", t.of(RunResult::NoAnswer)},
            {"refused", t.of(RunResult::Refused)},
            {"skipped", t.of(RunResult::Skipped)},
            {"not_written", t.of(RunResult::NotWritten)},
            {"writing", s.writing},
            {"units_per_hour", or_null(s.units_per_hour)},
            {"first_pass_yield", or_null(s.first_pass_yield)}};
}

std::string number(double value) {
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc{} ? std::string(text, end) : "NaN";
}

// A label value: UTF-8, with backslash, quote and line feed escaped, as the
// format asks (an image's file name may be in any encoding).
std::string label(const std::string& value) {
    std::string out = "\"";
    for (char c : as_utf8(value)) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

void family(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void seconds_histogram(std::string& out, const BenchCounts& counts) {
    family(out, "wxr7305_upgrade_seconds", "histogram",
           "Seconds from a unit's probe to the end of its successful write.");
    std::uint64_t below = 0;
    for (std::size_t i = 0; i < kSecondsBuckets.size(); ++i) {
        below += counts.seconds_buckets[i];
        out += "wxr7305_upgrade_seconds_bucket{le=\"" + number(kSecondsBuckets[i]) + "\"} " + std::to_string(below) + "\n";
    }
    out += "wxr7305_upgrade_seconds_bucket{le=\"+Inf\"} " + std::to_string(counts.seconds_count) + "\n";
    out += "wxr7305_upgrade_seconds_sum " + number(counts.seconds_sum) + "\n";
    out += "wxr7305_upgrade_seconds_count " + std::to_string(counts.seconds_count) + "\n";
}

}  // namespace

std::string status_json(const BenchSnapshot& s) {
    json firmware = json::array();
    for (const FirmwareView& f : s.firmware) {
        firmware.push_back({{"file", f.file}, {"model", f.model}, {"sensor", f.sensor}, {"version", f.version},
                            {"checksum", f.checksum}, {"size", f.size}});
    }
    json ports = json::array();
    for (const PortView& port : s.ports) ports.push_back(port_json(port));
    json results = json::array();
    for (const ResultView& r : *s.results) results.push_back(result_json(r));
    json object = {
        {"version", s.version},
        {"station", {{"id", s.station}, {"state", s.state}, {"log_failed", s.log_failed}, {"count", or_null(s.count)},
                     {"notices", s.notices},
                     {"link", s.link ? json{{"text", s.link->text}, {"sent", s.link->sent}} : json(nullptr)}}},
        {"firmware", firmware},
        {"totals", totals_json(s)},
        {"ports", ports},
        {"results", results},
    };
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

const std::string& BenchSnapshot::as_json() const {
    std::lock_guard lock(json_mutex_);
    if (!json_made_) json_ = status_json(*this);
    json_made_ = true;
    return json_;
}

std::string metrics_text(const BenchSnapshot& s) {
    std::string out;
    family(out, "wxr7305_units_total", "counter", "Visits that ended, by result, model and port: a unit plugged in again counts again.");
    for (const auto& [key, n] : s.counts->units) {
        const auto& [result, model, port] = key;
        out += "wxr7305_units_total{result=" + label(result) + ",model=" + label(model) + ",port=" + label(port) +
               "} " + std::to_string(n) + "\n";
    }
    seconds_histogram(out, *s.counts);
    family(out, "wxr7305_units_writing", "gauge", "Units being written now.");
    out += "wxr7305_units_writing " + std::to_string(s.writing) + "\n";
    family(out, "wxr7305_log_failing", "gauge",
           "1 once the --log file could not be written (no unit is started after), until the station ends; "
           "a --watch station scraped at a steady pace waits up to 6 s for one more scrape at its end.");
    out += std::string("wxr7305_log_failing ") + (s.log_failed ? "1" : "0") + "\n";
    family(out, "wxr7305_station_info", "gauge", "This run of the station: its id, as its log records carry it.");
    out += "wxr7305_station_info{station=" + label(s.station) + "} 1\n";
    family(out, "wxr7305_firmware_info", "gauge", "The firmware images the station writes.");
    for (const FirmwareView& f : s.firmware) {
        out += "wxr7305_firmware_info{file=" + label(f.file) + ",model=" + label(f.model) + ",sensor=" + label(f.sensor) +
               ",version=" + label(std::to_string(f.version)) + ",checksum=" + label(f.checksum) + "} 1\n";
    }
    return out;
}

}  // namespace wxr::page
