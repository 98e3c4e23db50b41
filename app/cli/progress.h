// Runs the upgrade on a worker thread while the calling thread shows its
// progress: a bar on a terminal, plain lines elsewhere.
#pragma once

#include <iosfwd>

#include "upgrade/upgrade.h"

namespace wxr::cli {

UpgradeResult run_upgrade_with_progress(DeviceContext& context, const ImageStore& store, std::int32_t range,
                                        std::ostream& out, bool terminal);

// One frame of the bar, e.g. "[#######.............]  35%  850/2416".
std::string progress_bar(std::int32_t value, std::int32_t range);

}  // namespace wxr::cli
