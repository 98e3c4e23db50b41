// Everything one run of the command line works on: the platform (real or
// simulated), the transcript and the process-wide records.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/sim/sim_hid.h"
#include "device/sim/sim_spec.h"
#include "device/system_platform.h"
#include "station/trace_file.h"
#include "image/image_store.h"

namespace wxr::station {

// The command line's Shift override is an option, not a key.
class FixedShiftKeyState final : public ShiftKeyState {
public:
    explicit FixedShiftKeyState(bool on) : on_(on) {}
    bool pressed_since_last_query() override { return on_; }

private:
    bool on_;
};

struct SessionOptions {
    std::optional<sim::SimBench> simulated;  // nullopt: real HID
    bool virtual_time = false;
    std::optional<std::string> trace_file;
    bool shift = false;
};

class Session {
public:
    explicit Session(const SessionOptions& options);

    // Starts the --trace file, if any, before the first device operation and
    // after every input is read (see FileSet). Throws std::runtime_error when
    // the file cannot be used.
    void open_trace();

    DeviceContext context() { return context_for(list); }
    // A context on another device list: each run of the procedure on a device of many has its own.
    DeviceContext context_for(DeviceList& other) { return {*channel_, *mutexes_, shift_, expected_model, other}; }
    DeviceChannel& channel() { return *channel_; }
    HidPlatform& hid() { return *hid_; }
    Clock& clock() { return *clock_; }
    sim::SimHid* simulation() { return simulation_; }
    // nullptr without --trace.
    TraceFile* trace() { return trace_.get(); }

    ImageStore store;
    ExpectedModel expected_model{0};
    DeviceList list;

private:
    std::optional<std::string> trace_file_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<HidPlatform> hid_;
    sim::SimHid* simulation_ = nullptr;
    std::unique_ptr<NamedMutexFactory> mutexes_;
    FixedShiftKeyState shift_;
    std::unique_ptr<TraceFile> trace_;
    std::unique_ptr<Transcript> transcript_;
    std::unique_ptr<DeviceChannel> channel_;
};

}  // namespace wxr::station
