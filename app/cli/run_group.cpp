#include "app/cli/run_group.h"

#include <algorithm>

namespace wxr::cli {

RunGroup::~RunGroup() {
    for (auto& slot : slots_) {
        if (slot->thread.joinable()) slot->thread.join();
    }
}

void RunGroup::mark_ended(Slot* slot) {
    {
        std::lock_guard lock(mutex_);
        slot->ended = true;
    }
    ended_.notify_all();
}

DeviceRun& RunGroup::start(std::unique_ptr<DeviceRun> run) {
    auto slot = std::make_unique<Slot>();
    Slot* raw = slot.get();
    DeviceRun& started = *run;
    slot->run = std::move(run);
    {
        std::lock_guard lock(mutex_);
        slots_.push_back(std::move(slot));
    }
    auto body = [this, raw] {
        raw->run->run();
        mark_ended(raw);
    };
    bool started_thread = true;
    {
        // Held until the thread is stored: it cannot be collected before.
        std::lock_guard lock(mutex_);
        try {
            raw->thread = std::thread(body);
        } catch (...) {
            // No thread (or no memory for one): the run goes on here instead.
            started_thread = false;
        }
    }
    if (!started_thread) body();
    return started;
}

std::vector<std::unique_ptr<DeviceRun>> RunGroup::wait_for_ended(std::chrono::milliseconds timeout) {
    std::vector<std::unique_ptr<Slot>> done;
    {
        std::unique_lock lock(mutex_);
        auto any_ended = [&] { return std::any_of(slots_.begin(), slots_.end(), [](auto& s) { return s->ended; }); };
        ended_.wait_for(lock, timeout, any_ended);
        for (auto it = slots_.begin(); it != slots_.end();) {
            if ((*it)->ended) {
                done.push_back(std::move(*it));
                it = slots_.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::vector<std::unique_ptr<DeviceRun>> runs;
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

std::vector<const DeviceRun*> RunGroup::going() const {
    std::lock_guard lock(mutex_);
    std::vector<const DeviceRun*> out;
    for (const auto& slot : slots_) out.push_back(slot->run.get());
    return out;
}

}  // namespace wxr::cli
