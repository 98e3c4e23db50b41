// Virtual time as a discrete-event clock. The threads that take part (see
// Clock) run while time stands still; once every one of them waits on the
// clock, time moves to the earliest end of a wait and those waits end. A
// thread waiting alone therefore moves it at once, and threads side by side
// see the same times, in the same order, on every run.
//
// A wait with a ready() (an observer, such as a loop that shows progress) is
// ended only at such a still point, before time moves: what it sees is the
// state every other participant left, never one caught half-way.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include "device/hid_platform.h"

namespace wxr {

class VirtualClock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override;
    std::uint64_t now_ms() const override { return now_.load(); }
    bool wait_for(std::optional<std::uint32_t> ms, const std::function<bool()>& ready) override;
    void notify() override;

    void count_in() override;
    void count_out() override;
    void arrive() override;
    void depart() override;

    // Those counted in and not yet departed, for tests.
    std::size_t participants() const;

private:
    struct Waiter {
        std::optional<std::uint64_t> until;
        const std::function<bool()>* ready = nullptr;  // set for an observer
        bool woken = false;
        std::condition_variable wake;
    };

    void wait(std::unique_lock<std::mutex>& lock, Waiter& waiter);
    // At a still point: ends the waits that are due, moving time if need be.
    void settle();
    bool wake_ready_observers();
    void wake(Waiter& waiter);

    std::atomic<std::uint64_t> now_{0};
    mutable std::mutex mutex_;
    std::size_t participants_ = 0;
    std::vector<Waiter*> waiting_;
};

}  // namespace wxr
