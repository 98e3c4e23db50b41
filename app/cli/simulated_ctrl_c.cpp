#include "app/cli/simulated_ctrl_c.h"

#include <algorithm>
#include <limits>

#include "device/clock_threads.h"

namespace wxr::cli {

SimulatedCtrlC::SimulatedCtrlC(Clock& clock, StopRequest& stop, std::uint64_t at_ms) : clock_(clock) {
    thread_ = start_clock_thread(clock, [this, &stop, at_ms] {
        const std::uint64_t now = clock_.now_ms();
        const auto wait = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(at_ms > now ? at_ms - now : 0, std::numeric_limits<std::uint32_t>::max()));
        if (!clock_.wait_for(wait, [this] { return over_.load(); })) stop.press();
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
