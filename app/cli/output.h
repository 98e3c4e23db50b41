// Texts the commands print about devices, images and runs.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/device_run.h"
#include "app/cli/session.h"
#include "app/cli/unit_tally.h"
#include "image/image_info.h"

namespace wxr::cli {

std::string model_text(const ImageInfo& info);
std::string sensor_text(const ImageInfo& info);
// What differs, in words: "sensor LX100, firmware is for LX300"; empty when it fits.
std::string mismatch_words(const ImageInfo& image, const ImageInfo& device);
// "version 60 → 57, an older firmware" when the write goes back, else empty.
std::string downgrade_words(int before, int after);

// Control characters shown as \xNN, so that an image's text cannot drive the terminal.
std::u16string escape_control_chars(std::u16string_view text);

// "Device not found!!", and why, when another program has the units or
// permissions are the reason. Returns the exit code for no device.
int report_not_found(Session& session, std::ostream& err);

// "sim:3  success  1.62 s", with the reason for a refusal, a skip or a
// failure, and where the unit is attached and its serial number when known.
std::string result_line(const RunReport& report);
// The line's end: "  (why)  at usb-1.4  serial 0042", or where first.
std::string result_details(const RunReport& report, bool where_first);
// A text the device or the system gave, for a terminal: control bytes shown as \xNN.
std::string printable(const std::string& text);
// "at usb-0000:00:14.0-2/input0  serial 0042", or empty.
std::string whereabouts(const std::string& location, const std::string& serial);

// "10 units: 9 written, 1 failed (12 visits)": units by the result they
// stand at, those of no unit left out; a visit is each time a unit was dealt
// with (written, skipped, held back), as the log's result records.
std::string count_line(const ResultTally& tally);
// "9 written, 1 failed": the count without its head.
std::string standing_counts(const ResultTally& tally);
// What a count calls units standing at the result: "written", "no answer", ...
std::string standing_word(RunResult result);
// By each unit's standing result: 0 when every unit was written (or was
// already current), else 4 when any failed or never answered, else 3 when
// any was refused. With only units not written: kExitStopped when a stop
// kept them (else 0: what kept them says so itself); with none at all, 2.
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
