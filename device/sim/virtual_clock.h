// Virtual time: a pause advances the clock at once and returns, so tests can
// assert exact pauses and a whole upgrade runs in milliseconds. Pauses of
// threads running side by side add up; tests that look at parallel timing use
// the real clock instead.
#pragma once

#include <atomic>

#include "device/hid_platform.h"

namespace wxr {

class VirtualClock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override { now_.fetch_add(ms); }
    std::uint64_t now_ms() const override { return now_.load(); }

private:
    std::atomic<std::uint64_t> now_{0};
};

}  // namespace wxr
