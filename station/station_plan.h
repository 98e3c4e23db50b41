// What a command asks of the station: which units, and how many.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "station/log_recall.h"

namespace wxr::station {

enum class StationMode {
    One,    // the units given, each written; one alone gets the dialog's words
    All,    // the units given, each written, a line each and a count
    Watch,  // each unit as it appears
};

struct StationPlan {
    StationMode mode = StationMode::All;
    std::vector<DevicePath> paths;  // One and All: the interfaces to look at
    // A plain upgrade: of the units that answer, write the first in natural
    // path order that has an image (else the first) and leave the others alone.
    bool choose_one = false;
    // A unit is asked again for its answer window; without, once.
    bool retry_probes = true;
    // Probes take only units of this model (the dialog's pass, without --shift).
    std::optional<std::uint8_t> model;
    std::optional<long> count;  // --count
    // Watch: only the units these name (a path, a USB location or a serial
    // number); none, every unit.
    std::vector<std::string> names;
    std::string station;        // the station's id (station_id.h)
    // Watch with --log: the units its log says it wrote before this start.
    WrittenUnits written_before;
};

}  // namespace wxr::station
