// Texts the commands print about devices, images and runs.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "image/image_info.h"
#include "station/device_run.h"
#include "station/exit_code.h"
#include "station/not_found.h"
#include "station/session.h"
#include "station/simulation_check.h"
#include "station/unit_tally.h"
#include "station/unit_text.h"

namespace wxr::cli {

using namespace wxr::station;

// "sim:3  success  1.62 s", with the reason for a refusal, a skip or a
// failure, and where the unit is attached and its serial number when known.
std::string result_line(const RunReport& report);
// The line's end: "  (why)  at usb-1.4  serial 0042", or where first.
std::string result_details(const RunReport& report, bool where_first);

// "10 units: 9 written, 1 failed (12 visits)": units by the result they
// stand at, those of no unit left out; a visit is each time a unit was dealt
// with (written, skipped, held back), as the log's result records.
std::string count_line(const ResultTally& tally);
// "9 written, 1 failed": the count without its head.
std::string standing_counts(const ResultTally& tally);
// What a count calls units standing at the result: "written", "no answer", ...
std::string standing_word(RunResult result);

}  // namespace wxr::cli
