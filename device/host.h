// What the records say of the computer they were written on and when.
#pragma once

#include <string>

namespace wxr {

// Now, in UTC: "2026-12-08T04:33:42Z".
std::string utc_time_now();
// This computer's name; empty when it cannot be had.
std::string host_name();

}  // namespace wxr
