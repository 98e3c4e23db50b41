// --json: one object per line, fields named for what they are, numbers as
// numbers. Texts are UTF-8; anything that is not comes out replaced.
#pragma once

#include <optional>
#include <string>

#include "app/cli/device_run.h"
#include "app/cli/output.h"
#include "image/image_info.h"

namespace wxr::cli {

// Each ends with a newline.
std::string image_json(const ImageInfo& image);
std::string device_json(const DevicePath& path, const ImageInfo& device);
// With the image it would get on a mixed bench: its file, or null when none fits.
std::string device_json(const DevicePath& path, const ImageInfo& device, const BenchImage* image);
std::string report_json(const RunReport& report, const std::optional<SimulationCheck>& check);

}  // namespace wxr::cli
