// Texts the commands print about devices and images.
#pragma once

#include <iosfwd>
#include <string>

#include "app/cli/session.h"
#include "image/image_info.h"

namespace wxr::cli {

// Sorts before 73-seat-late.rules, which turns the uaccess tag into access.
inline constexpr char kUdevRuleFile[] = "70-wxr7305.rules";

std::string model_text(const ImageInfo& info);
std::string sensor_text(const ImageInfo& info);

// "Device not found!!", and why, when permissions are the reason. Returns
// the exit code for no device.
int report_not_found(Session& session, std::ostream& err);

}  // namespace wxr::cli
