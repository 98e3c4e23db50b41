// Runs on their own threads, and a wait that returns as soon as one ends
// (a condition variable, not a poll), so the command never waits on itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/cli/device_run.h"

namespace wxr::cli {

class RunGroup {
public:
    RunGroup() = default;
    // Waits for the runs still going: no thread outlives the group.
    ~RunGroup();
    RunGroup(const RunGroup&) = delete;
    RunGroup& operator=(const RunGroup&) = delete;

    // Starts the run on its own thread; a thread that cannot be had runs it here.
    DeviceRun& start(std::unique_ptr<DeviceRun> run);

    // Waits until a run has ended or `timeout` has passed; returns the runs
    // ended since the last call, their threads joined.
    std::vector<std::unique_ptr<DeviceRun>> wait_for_ended(std::chrono::milliseconds timeout);

    std::size_t running() const;
    // Those still going, for the progress display (valid until they end and are collected).
    std::vector<const DeviceRun*> going() const;

private:
    struct Slot {
        std::unique_ptr<DeviceRun> run;
        std::thread thread;
        bool ended = false;
    };

    void mark_ended(Slot* slot);

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::vector<std::unique_ptr<Slot>> slots_;
};

}  // namespace wxr::cli
