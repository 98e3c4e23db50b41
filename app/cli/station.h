// Writing units and showing each result the moment its unit ends: one unit
// (a plain upgrade or --device), every unit attached now (--all), or a
// station that writes each unit as it appears (--watch; those attached at the
// start count as appearing) until Ctrl-C or --count.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/device_run.h"
#include "app/cli/log_file.h"
#include "device/device_hold.h"

namespace wxr::cli {

// As often as the dialog's timer moves its bar; a run's end wakes the wait at once.
inline constexpr std::chrono::milliseconds kRedrawPeriod{100};
// How long Ctrl-C may wait to be acted on.
inline constexpr std::uint32_t kStopCheckMs = 100;

enum class StationMode { One, All, Watch };

struct StationPlan {
    StationMode mode;
    std::vector<DevicePath> paths;      // One and All: the units to run
    bool probe = false;                 // the runs probe their units first
    std::optional<long> left_alone;     // One: other fitting units not written
    // One: the chosen unit's descriptor, kept open from discovery to its run.
    std::shared_ptr<DeviceHolds> from_discovery;
};

// Returns the exit code. log is nullptr without --log.
int run_station(Session& session, RunPlan plan, const StationPlan& station, const Options& options,
                Console& console, LogFile* log);

}  // namespace wxr::cli
