// --json: one object per line, fields named for what they are, numbers as
// numbers. Texts are UTF-8; anything that is not comes out replaced.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "station/device_run.h"
#include "station/simulation_check.h"
#include "station/unit_tally.h"
#include "image/image_info.h"

namespace wxr::station {

// Each ends with a newline.
std::string image_json(const ImageInfo& image, const std::optional<std::string>& upgrade_refuses = std::nullopt);
// fit: the image the unit would get, nullptr when the firmware does not fit
// it; named_images: images were given, and the file is named.
std::string device_json(const DevicePath& path, const ImageInfo& device, const std::string& location,
                        const std::string& serial, const BenchImage* fit, bool named_images);
// A unit `list` saw but cannot tell the model of: no model fields, its
// `state` ("no-answer", "gone") and the detail in words.
std::string unanswered_json(const DevicePath& path, const std::string& location, const std::string& serial,
                            const std::string& state, const std::string& detail);
std::string report_json(const RunReport& report, const std::optional<SimulationCheck>& check);
// The last line of an upgrade: {"summary": {"units": ..., "attempts": ..., "success": ..., ...}},
// units counted by the result they stand at.
std::string summary_json(const ResultTally& tally, std::optional<long> left_alone);
enum class LogRecord { Start, Result };
// What every record of a station's log carries beside the unit's own fields.
struct LogStamp {
    std::string time;     // now, UTC
    std::string host;
    std::string started;  // the station's start, UTC, for a person (the report's station id pairs records)
    LogRecord record;
};
// One record of the --log file, without its line end.
std::string log_json(const RunReport& report, const std::optional<SimulationCheck>& check, const LogStamp& stamp);
// The image a unit got: file, model, sensor, version, checksum (hex).
std::string image_checksum_text(const ImageInfo& image);

}  // namespace wxr::station
