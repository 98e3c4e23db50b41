// Texts the commands print about devices, images and runs.
#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/device_run.h"
#include "app/cli/session.h"
#include "image/image_info.h"

namespace wxr::cli {

std::string model_text(const ImageInfo& info);
std::string sensor_text(const ImageInfo& info);

// Control characters shown as \xNN, so that an image's text cannot drive the terminal.
std::u16string escape_control_chars(std::u16string_view text);

// "Device not found!!", and why, when another program has the units or
// permissions are the reason. Returns the exit code for no device.
int report_not_found(Session& session, std::ostream& err);

// "sim:3  success  1.62 s", with the reason for a refusal, a skip or a
// failure, and where the unit is attached and its serial number when known.
std::string result_line(const RunReport& report);
// A text the device or the system gave, for a terminal: control bytes shown as \xNN.
std::string printable(const std::string& text);
// "at usb-0000:00:14.0-2/input0  serial 0042", or empty.
std::string whereabouts(const std::string& location, const std::string& serial);

// How many visits ended how: what a station keeps of its results, so that a
// day of units costs no memory per unit.
class ResultTally {
public:
    void add(RunResult result) { ++counts_[static_cast<std::size_t>(result)]; }
    std::size_t of(RunResult result) const { return counts_[static_cast<std::size_t>(result)]; }
    std::size_t total() const;

private:
    std::array<std::size_t, kRunResults> counts_{};
};

// "20 devices: 19 succeeded, 1 failed, 0 refused, 0 skipped", and how many
// never answered or were not written when any.
std::string count_line(const ResultTally& tally);
// 0 when every device succeeded (or was skipped), else 4 when any failed or
// never answered, else 3 when any was refused. With only units not written:
// kExitStopped when a stop kept them (else 0: what kept them says so itself);
// with none at all, 2.
int exit_code_for(const ResultTally& tally, bool stopped);

// For a simulated device that got an end report: whether its flash equals
// the image and the end report matches the flash.
struct SimulationCheck {
    bool flash_equals_image;
    bool end_report_matches;
};
std::optional<SimulationCheck> check_simulated(Session& session, const RunReport& report);
std::string check_text(const SimulationCheck& check);

}  // namespace wxr::cli
