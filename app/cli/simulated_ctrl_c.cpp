#include "app/cli/simulated_ctrl_c.h"

#include <algorithm>
#include <limits>

#include "device/clock_threads.h"

namespace wxr::cli {

namespace {

// As the platform's handler takes it. A second press while a unit is
// written ends the process there, which a simulation inside that process
// cannot show: that press is let go by.
void deliver(StopRequest& stop, const sim::SimStop& request) {
    if (request.from_system) return stop.request();
    if (stop.requested() && stop.writing()) return;
    stop.press();
}

}  // namespace

SimulatedCtrlC::SimulatedCtrlC(Clock& clock, StopRequest& stop, std::vector<sim::SimStop> stops) : clock_(clock) {
    thread_ = start_clock_thread(clock, [this, &stop, stops = std::move(stops)] {
        for (const sim::SimStop& request : stops) {
            const std::uint64_t now = clock_.now_ms();
            const auto wait = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                request.at_ms > now ? request.at_ms - now : 0, std::numeric_limits<std::uint32_t>::max()));
            if (clock_.wait_for(wait, [this] { return over_.load(); })) break;
            deliver(stop, request);
        }
        ended_ = true;
        clock_.notify();
    });
}

SimulatedCtrlC::~SimulatedCtrlC() {
    over_ = true;
    clock_.notify();
    clock_.wait_for(std::nullopt, [this] { return ended_.load(); });
    thread_.join();
}

}  // namespace wxr::cli
