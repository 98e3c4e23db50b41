// Virtual time as a discrete-event clock. The threads that take part (see
// Clock) run while time stands still; once every one of them waits on the
// clock, time moves to the earliest end of a wait and those waits end. A
// thread waiting alone therefore moves it at once, and threads side by side
// see the same times on every run.
//
// A wait with a ready() (an observer, such as a loop that shows progress) is
// ended only at such a still point, before time moves: what it sees is the
// state every other participant left, never one caught half-way.
//
// Serial schedule: one participant runs at a time. At each still point the
// waits due end one by one, pauses before observers and, among equals, in
// the order the threads were counted in (a new thread first waits for its
// turn). What threads do to shared things (a device, a transcript, an
// output) then happens in the same order on every run. A participant that
// blocks on anything but the clock holds up the others meanwhile, so the
// serial schedule is for code that waits only on the clock while another
// participant must act.
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
    enum class Schedule { Parallel, Serial };

    explicit VirtualClock(Schedule schedule = Schedule::Parallel) : serial_(schedule == Schedule::Serial) {}

    void sleep_ms(std::uint32_t ms) override;
    std::uint64_t now_ms() const override { return now_.load(); }
    bool wait_for(std::optional<std::uint32_t> ms, const std::function<bool()>& ready) override;
    void notify() override;

    std::uint64_t count_in() override;
    void count_out() override;
    void arrive(std::uint64_t ticket) override;
    void depart() override;

    // Those counted in and not yet departed, for tests.
    std::size_t participants() const;

private:
    struct Waiter {
        std::optional<std::uint64_t> until;
        const std::function<bool()>* ready = nullptr;  // set for an observer
        std::uint64_t order = 0;                       // the thread's ticket
        bool woken = false;
        std::condition_variable wake;
    };

    void wait(std::unique_lock<std::mutex>& lock, Waiter& waiter);
    // At a still point: ends the waits that are due, moving time if need be.
    void settle();
    void settle_parallel();
    void settle_serial();
    bool wake_ready_observers();
    void wake(Waiter& waiter);
    // Serial: the first waiter in thread order that `due` accepts, if any.
    template <typename Due>
    Waiter* first_due(Due&& due) const;
    std::optional<std::uint64_t> next_end() const;

    const bool serial_;
    std::atomic<std::uint64_t> now_{0};
    mutable std::mutex mutex_;
    std::size_t participants_ = 0;
    std::uint64_t next_ticket_ = 1;
    std::vector<Waiter*> waiting_;
};

}  // namespace wxr
