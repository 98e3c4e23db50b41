// The real clock: pauses really pause; timestamps count from construction.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "device/hid_platform.h"

namespace wxr {

class SteadyClock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::uint64_t now_ms() const override {
        auto elapsed = std::chrono::steady_clock::now() - start_;
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    }
    bool wait_for(std::optional<std::uint32_t> ms, const std::function<bool()>& ready) override {
        std::unique_lock lock(mutex_);
        if (!ms) {
            changed_.wait(lock, ready);
            return true;
        }
        return changed_.wait_for(lock, std::chrono::milliseconds(*ms), ready);
    }
    void notify() override {
        // Taken so that a waiter between its check and its wait cannot miss this.
        { std::lock_guard lock(mutex_); }
        changed_.notify_all();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace wxr
