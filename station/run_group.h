// Runs on their own threads, and a wait that returns as soon as one ends
// (a wait on the clock, not a poll), so the command never waits on itself.
// The runs take part in the clock: on a virtual clock each sees the times it
// would see alone.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "station/run.h"
#include "device/hid_platform.h"

namespace wxr::station {

class RunGroup {
public:
    explicit RunGroup(Clock& clock) : clock_(clock) {}
    // Waits for the runs still going: no thread outlives the group.
    ~RunGroup();
    RunGroup(const RunGroup&) = delete;
    RunGroup& operator=(const RunGroup&) = delete;

    // Starts the run on its own thread; a thread that cannot be had runs it here.
    Run& start(std::unique_ptr<Run> run);

    // Waits until a run has ended or `timeout` has passed; returns the runs
    // ended since the last call, their threads joined.
    std::vector<std::unique_ptr<Run>> wait_for_ended(std::chrono::milliseconds timeout);

    std::size_t running() const;

private:
    struct Slot {
        std::unique_ptr<Run> run;
        std::thread thread;
        bool ended = false;
    };

    void mark_ended(Slot* slot);
    bool all_ended() const;

    Clock& clock_;
    mutable std::mutex mutex_;  // nothing calls the clock while holding it
    std::vector<std::unique_ptr<Slot>> slots_;
    std::atomic<std::size_t> ended_{0};  // ended and not yet collected
};

}  // namespace wxr::station
