// Which run of the program a record comes from: a station's records pair
// by (station, visit), so that two stations started in the same second on
// one host (a service manager starts every instance at boot) never pair
// each other's records.
#pragma once

#include <string>

namespace wxr::station {

// On the virtual clock, what a run prints must be the same every run.
inline constexpr char kVirtualStationId[] = "virtual";

// 16 hex digits from the system's random source; kVirtualStationId on the virtual clock.
std::string new_station_id(bool virtual_time);

}  // namespace wxr::station
