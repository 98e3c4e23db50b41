// Firmware files named on the command line: read with the dialog's checks,
// and when that fails, a message that names the file and says what is wrong
// with it (missing, a directory, empty, too long, unreadable, no info block).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "station/session.h"
#include "device/sim/device_model.h"
#include "image/image_info.h"

namespace wxr::station {

// info FILE: false (after a message) when FILE holds no readable info block.
bool read_info_of_file(const std::string& file, ImageInfo& info, std::ostream& err);

// Why upgrade would refuse an image that info reads ("it is longer than
// 65535 bytes"); nullopt when it would take it.
std::optional<std::string> upgrade_refusal(const ImageInfo& info);

// The image to write into `store`: the built-in one, or `file`.
bool load_image_into(ImageStore& store, const std::optional<std::string>& file, ImageInfo& info, std::ostream& err);

// What a simulated unit is unless --simulate says otherwise: what the
// firmware the command writes fits, the first of `images`, else the built-in
// one (also when that file cannot be read: loading it reports why).
sim::Identity simulated_identity(const std::vector<std::string>& images);

}  // namespace wxr::station
