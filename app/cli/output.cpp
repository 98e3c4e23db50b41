#include "app/cli/output.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "app/cli/cli.h"
#include "upgrade/compatibility.h"

namespace wxr::cli {

namespace {

bool is_control(char16_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

}  // namespace

std::string whereabouts(const std::string& location, const std::string& serial) {
    std::string out;
    if (!location.empty()) out += "at " + printable(location);
    if (!serial.empty()) out += (out.empty() ? "" : "  ") + std::string("serial ") + printable(serial);
    return out;
}

std::string model_text(const ImageInfo& info) {
    return info.model_name.empty() ? "model " + std::to_string(info.model) : to_utf8(info.model_name);
}

std::string sensor_text(const ImageInfo& info) {
    return info.sensor_name.empty() ? "sensor " + std::to_string(info.sensor) : to_utf8(info.sensor_name);
}

std::string mismatch_words(const ImageInfo& image, const ImageInfo& device) {
    auto name = [](const char* kind, const std::u16string& text, int number) {
        return std::string(kind) + " " + (text.empty() ? std::to_string(number) : to_utf8(text));
    };
    auto bare = [](const std::u16string& text, int number) { return text.empty() ? std::to_string(number) : to_utf8(text); };
    const bool model = image.model != device.model, sensor = image.sensor != device.sensor;
    if (model && sensor) {
        return name("model", device.model_name, device.model) + " and " + name("sensor", device.sensor_name, device.sensor) +
               ", firmware is for " + bare(image.model_name, image.model) + " " + bare(image.sensor_name, image.sensor);
    }
    if (model) return name("model", device.model_name, device.model) + ", firmware is for " + bare(image.model_name, image.model);
    if (sensor) {
        return name("sensor", device.sensor_name, device.sensor) + ", firmware is for " + bare(image.sensor_name, image.sensor);
    }
    return {};
}

std::string downgrade_words(int before, int after) {
    if (before <= after) return {};
    return "version " + std::to_string(before) + " \u2192 " + std::to_string(after) + ", an older firmware";
}

std::u16string escape_control_chars(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (!is_control(c)) {
            out += c;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
        out.append(hex, hex + 4);
    }
    return out;
}

int report_not_found(Session& session, std::ostream& err) {
    err << to_utf8(kDeviceNotFoundText) << "\n";
    if (std::size_t busy = session.hid().interfaces_in_use(); busy > 0) {
        err << busy << " HID interface" << (busy == 1 ? " is" : "s are")
            << " in use by another program (a station, a dialog or another command line)"
               " writing the device; try again once it is done.\n";
    }
    std::size_t locked = session.hid().inaccessible_interfaces();
    if (locked == 0) return kExitNoDevice;
    err << locked << " HID interface" << (locked == 1 ? " was" : "s were")
        << " found but could not be opened: permission denied.\n"
           "To let logged-in users reach the device, run once:\n"
           "  sudo wxr7305 udev-rule --install\n"
           "or run this command as root.\n";
    return kExitNoDevice;
}

std::string printable(const std::string& text) { return to_utf8(escape_control_chars(from_utf8(text))); }

std::string result_details(const RunReport& report, bool where_first) {
    std::string detail = report.detail.substr(0, report.detail.find_last_not_of(' ') + 1);
    if (!report.recorded) detail += std::string(detail.empty() ? "" : "; ") + "not recorded: the log failed";
    const std::string why = detail.empty() ? "" : "  (" + printable(detail) + ")";
    const std::string where = whereabouts(report.location, report.serial);
    const std::string at = where.empty() ? "" : "  " + where;
    return where_first ? at + why : why + at;
}

std::string result_line(const RunReport& report) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", static_cast<double>(report.ms) / 1000.0);
    return printable(to_utf8(report.path)) + "  " + result_name(report.result) + "  " + seconds +
           result_details(report, false) + "\n";
}

std::string standing_word(RunResult result) {
    switch (result) {
        case RunResult::Success: return "written";
        case RunResult::Failed: return "failed";
        case RunResult::Refused: return "refused";
        case RunResult::Skipped: return "skipped";
        case RunResult::NoAnswer: return "no answer";
        case RunResult::NotWritten: return "not written";
    }
    return "failed";
}

std::string standing_counts(const ResultTally& tally) {
    std::string text;
    for (std::size_t i = 0; i < kRunResults; ++i) {
        const auto result = static_cast<RunResult>(i);
        if (tally.of(result) == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(tally.of(result)) + " " + standing_word(result);
    }
    return text;
}

std::string count_line(const ResultTally& tally) {
    const std::string counts = standing_counts(tally);
    return std::to_string(tally.total()) + (tally.total() == 1 ? " unit" : " units") + (counts.empty() ? "" : ": ") +
           counts + " (" + std::to_string(tally.attempts()) + (tally.attempts() == 1 ? " visit)\n" : " visits)\n");
}

int exit_code_for(const ResultTally& tally, bool stopped) {
    if (tally.of(RunResult::Failed) + tally.of(RunResult::NoAnswer) > 0) return kExitUpgradeFailed;
    if (tally.of(RunResult::Refused) > 0) return kExitMismatch;
    if (tally.of(RunResult::Success) + tally.of(RunResult::Skipped) > 0) return kExitSuccess;
    if (tally.of(RunResult::NotWritten) > 0) return stopped ? kExitStopped : kExitSuccess;
    return kExitNoDevice;
}

std::optional<SimulationCheck> check_simulated(Session& session, const RunReport& report) {
    sim::SimHid* sim = session.simulation();
    if (!sim || !report.image || !report.written) return std::nullopt;
    const ImageStore& image = report.image->store;
    auto index = sim->index_of(report.path);
    if (!index) return std::nullopt;
    sim::DeviceModel model = sim->model(*index);
    if (!model.end_report()) return std::nullopt;
    bool equal = std::equal(image.bytes.begin(), image.bytes.begin() + image.length, model.flash().begin());
    return SimulationCheck{equal, model.end_report()->matches_flash};
}

std::string check_text(const SimulationCheck& check) {
    return std::string("flash ") + (check.flash_equals_image ? "equals" : "differs from") + " the image; end report " +
           (check.end_report_matches ? "matches" : "does not match") + " the flash.";
}

}  // namespace wxr::cli
