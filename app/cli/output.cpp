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

std::string result_line(const RunReport& report) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", static_cast<double>(report.ms) / 1000.0);
    std::string line = printable(to_utf8(report.path)) + "  " + result_name(report.result) + "  " + seconds;
    std::string detail = report.detail.substr(0, report.detail.find_last_not_of(' ') + 1);
    if (!report.recorded) detail += std::string(detail.empty() ? "" : "; ") + "not recorded: the log failed";
    if (!detail.empty()) line += "  (" + printable(detail) + ")";
    if (std::string where = whereabouts(report.location, report.serial); !where.empty()) line += "  " + where;
    return line + "\n";
}

std::size_t ResultTally::total() const {
    std::size_t n = 0;
    for (std::size_t count : counts_) n += count;
    return n;
}

std::string count_line(const ResultTally& tally) {
    auto extra = [&](RunResult result, const char* words) {
        std::size_t n = tally.of(result);
        return n > 0 ? ", " + std::to_string(n) + words : std::string();
    };
    return std::to_string(tally.total()) + " device" + (tally.total() == 1 ? "" : "s") + ": " +
           std::to_string(tally.of(RunResult::Success)) + " succeeded, " +
           std::to_string(tally.of(RunResult::Failed)) + " failed, " +
           std::to_string(tally.of(RunResult::Refused)) + " refused, " +
           std::to_string(tally.of(RunResult::Skipped)) + " skipped" +
           extra(RunResult::NoAnswer, " without answer") + extra(RunResult::NotWritten, " not written") + "\n";
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
