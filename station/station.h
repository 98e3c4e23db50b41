// Writing units and showing each result the moment its unit ends: one unit
// (a plain upgrade or --device), every unit attached now (--all), or a
// station that writes each unit as it appears (--watch; those attached at the
// start count as appearing) until Ctrl-C or --count. Each unit's time at the
// station is a visit (visit.h); the station turns what it sees into the
// visits' events (presence.h) and starts, in natural path order, what they
// allow (scheduler.h).
#pragma once

#include <vector>

#include "station/device_run.h"
#include "station/station_events.h"
#include "station/station_log.h"
#include "station/station_plan.h"

namespace wxr::station {

// Returns the exit code. log is nullptr without --log; the listeners show the station.
int run_station(Session& session, const StationPlan& plan, const RunPlan& run_plan, StopRequest& stop,
                StationLog* log, const std::vector<StationListener*>& listeners);

}  // namespace wxr::station
