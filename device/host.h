// What the records say of the computer they were written on and when.
#pragma once

#include <cstdint>
#include <string>

namespace wxr {

// Now, in UTC: "2026-12-08T04:33:42Z".
std::string utc_time_now();
// This computer's name; empty when it cannot be had.
std::string host_name();
// A moment (seconds since 1970, UTC) as this computer's clock on the wall
// shows it: "10:42"; empty when it cannot be had.
std::string local_clock_text(std::int64_t utc_seconds);

}  // namespace wxr
