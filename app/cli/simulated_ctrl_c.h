// --simulate=ctrl-c-at=MS,sigterm-at=MS: Ctrl-C pressed, or the system's
// request to stop, at those moments of the session's clock, as the person at
// a simulated bench or its service manager would. On the virtual clock each
// comes at the same point of a run every time.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "station/stop_request.h"
#include "device/hid_platform.h"
#include "device/sim/sim_spec.h"

namespace wxr::cli {

using namespace wxr::station;

class SimulatedCtrlC {
public:
    SimulatedCtrlC(Clock& clock, StopRequest& stop, std::vector<sim::SimStop> stops);
    // Called by the thread that takes part in the clock: its wait is on the clock.
    ~SimulatedCtrlC();
    SimulatedCtrlC(const SimulatedCtrlC&) = delete;
    SimulatedCtrlC& operator=(const SimulatedCtrlC&) = delete;

private:
    Clock& clock_;
    std::atomic<bool> over_{false};    // the command is done: no press
    std::atomic<bool> ended_{false};   // the thread has done its part
    std::thread thread_;
};

}  // namespace wxr::cli
