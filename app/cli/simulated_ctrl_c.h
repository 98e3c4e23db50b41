// --simulate=ctrl-c-at=MS: Ctrl-C pressed at that moment of the session's
// clock, as the person at a simulated bench would press it. On the virtual
// clock it comes at the same point of a run every time.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "station/stop_request.h"
#include "device/hid_platform.h"

namespace wxr::cli {

using namespace wxr::station;

class SimulatedCtrlC {
public:
    SimulatedCtrlC(Clock& clock, StopRequest& stop, std::uint64_t at_ms);
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
