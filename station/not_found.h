// "Device not found!!", and why, when another program has the units or
// permissions are the reason.
#pragma once

#include <iosfwd>

#include "station/session.h"

namespace wxr::station {

// Returns the exit code for no device.
int report_not_found(Session& session, std::ostream& err);

}  // namespace wxr::station
