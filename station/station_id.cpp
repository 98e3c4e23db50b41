#include "station/station_id.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace wxr::station {

std::string new_station_id(bool virtual_time) {
    if (virtual_time) return kVirtualStationId;
    std::random_device source;
    const std::uint64_t id = (static_cast<std::uint64_t>(source()) << 32) ^ source();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(id));
    return text;
}

}  // namespace wxr::station
