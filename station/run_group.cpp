#include "station/run_group.h"

#include <algorithm>

#include "device/clock_threads.h"

namespace wxr::station {

RunGroup::~RunGroup() {
    // A wait on the clock: the runs still going need it to move.
    clock_.wait_for(std::nullopt, [this] { return all_ended(); });
    for (auto& slot : slots_) {
        if (slot->thread.joinable()) slot->thread.join();
    }
}

bool RunGroup::all_ended() const {
    std::lock_guard lock(mutex_);
    return std::all_of(slots_.begin(), slots_.end(), [](const auto& s) { return s->ended; });
}

void RunGroup::mark_ended(Slot* slot) {
    {
        std::lock_guard lock(mutex_);
        slot->ended = true;
        ++ended_;
    }
    clock_.notify();
}

Run& RunGroup::start(std::unique_ptr<Run> run) {
    auto slot = std::make_unique<Slot>();
    Slot* raw = slot.get();
    Run& started = *run;
    slot->run = std::move(run);
    {
        std::lock_guard lock(mutex_);
        slots_.push_back(std::move(slot));
    }
    auto body = [this, raw] {
        raw->run->run();
        mark_ended(raw);
    };
    // Only this thread collects runs, so the slot's thread is stored before
    // anything can look at it.
    try {
        raw->thread = start_clock_thread(clock_, body);
    } catch (...) {
        // No thread (or no memory for one): the run goes on here instead.
        body();
    }
    return started;
}

std::vector<std::unique_ptr<Run>> RunGroup::wait_for_ended(std::chrono::milliseconds timeout) {
    auto ms = static_cast<std::uint32_t>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, UINT32_MAX));
    clock_.wait_for(ms, [this] { return ended_.load() > 0; });
    std::vector<std::unique_ptr<Slot>> done;
    {
        std::lock_guard lock(mutex_);
        for (auto it = slots_.begin(); it != slots_.end();) {
            if ((*it)->ended) {
                done.push_back(std::move(*it));
                it = slots_.erase(it);
            } else {
                ++it;
            }
        }
        ended_ -= done.size();
    }
    std::vector<std::unique_ptr<Run>> runs;
    for (auto& slot : done) {
        if (slot->thread.joinable()) slot->thread.join();
        runs.push_back(std::move(slot->run));
    }
    return runs;
}

std::size_t RunGroup::running() const {
    std::lock_guard lock(mutex_);
    return slots_.size();
}

}  // namespace wxr::station
