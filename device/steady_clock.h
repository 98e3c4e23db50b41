// The real clock: pauses really pause; timestamps count from construction.
#pragma once

#include <chrono>
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

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace wxr
