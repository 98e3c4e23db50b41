// Writing units and showing each result the moment its unit ends: one unit
// (a plain upgrade or --device), every unit attached now (--all), or a
// station that writes each unit as it appears (--watch; those attached at the
// start count as appearing) until Ctrl-C or --count. Each unit's time at the
// station is a visit (visit.h); the station turns what it sees into the
// visits' events and starts, in natural path order, what they allow.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "station/device_run.h"
#include "station/station_events.h"
#include "station/station_log.h"

namespace wxr::cli {

// As often as the dialog's timer moves its bar; a run's end wakes the wait at once.
inline constexpr std::chrono::milliseconds kRedrawPeriod{100};
// How long Ctrl-C may wait to be acted on.
inline constexpr std::uint32_t kStopCheckMs = 100;
// How often a station looks for units come and gone, on the device clock: a
// unit plugged in waits at most this long, and its answer window starts at
// the look that finds it.
inline constexpr std::uint32_t kWatchPollMs = 500;

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
};

// Returns the exit code. log is nullptr without --log; the listeners show the station.
int run_station(Session& session, const StationPlan& plan, const RunPlan& run_plan, StopRequest& stop,
                StationLog* log, const std::vector<StationListener*>& listeners);

}  // namespace wxr::cli
