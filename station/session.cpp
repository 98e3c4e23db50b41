#include "station/session.h"

#include "device/local_mutex.h"
#include "device/sim/virtual_clock.h"
#include "device/steady_clock.h"

namespace wxr::station {

Session::Session(const SessionOptions& options) : trace_file_(options.trace_file), shift_(options.shift) {
    if (options.virtual_time) {
        clock_ = std::make_unique<VirtualClock>(VirtualClock::Schedule::Serial);
    } else {
        clock_ = std::make_unique<SteadyClock>();
    }
    if (options.simulated) {
        auto sim = std::make_unique<sim::SimHid>(*clock_);
        for (const auto& config : options.simulated->interfaces) sim->add_interface(config);
        simulation_ = sim.get();
        hid_ = std::move(sim);
        mutexes_ = std::make_unique<LocalNamedMutexFactory>();
    } else {
        SystemPlatform system = make_system_platform();
        hid_ = std::move(system.hid);
        mutexes_ = std::move(system.mutexes);
    }
    channel_ = std::make_unique<DeviceChannel>(*hid_, *clock_);
}

void Session::open_trace() {
    if (!trace_file_ || trace_) return;
    trace_ = std::make_unique<TraceFile>(*trace_file_);
    transcript_ = std::make_unique<Transcript>(trace_->stream());
    channel_ = std::make_unique<DeviceChannel>(*hid_, *clock_, transcript_.get());
}

}  // namespace wxr::station
