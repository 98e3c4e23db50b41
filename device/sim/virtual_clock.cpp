#include "device/sim/virtual_clock.h"

#include <algorithm>

namespace wxr {

namespace {

// The clock this thread takes part in, if any: a thread that waits without
// taking part counts as a participant for the length of its wait.
thread_local const VirtualClock* tl_member = nullptr;

}  // namespace

void VirtualClock::sleep_ms(std::uint32_t ms) {
    if (ms == 0) return;
    std::unique_lock lock(mutex_);
    Waiter waiter;
    waiter.until = now_.load() + ms;
    wait(lock, waiter);
}

bool VirtualClock::wait_for(std::optional<std::uint32_t> ms, const std::function<bool()>& ready) {
    // Even a waiter that is ready already looks only at a still point.
    std::unique_lock lock(mutex_);
    Waiter waiter;
    if (ms) waiter.until = now_.load() + *ms;
    waiter.ready = &ready;
    wait(lock, waiter);
    return ready();
}

void VirtualClock::notify() {
    std::lock_guard lock(mutex_);
    settle();
}

void VirtualClock::count_in() {
    std::lock_guard lock(mutex_);
    ++participants_;
}

void VirtualClock::count_out() {
    std::lock_guard lock(mutex_);
    --participants_;
    settle();
}

void VirtualClock::arrive() { tl_member = this; }

void VirtualClock::depart() {
    tl_member = nullptr;
    count_out();
}

std::size_t VirtualClock::participants() const {
    std::lock_guard lock(mutex_);
    return participants_;
}

void VirtualClock::wait(std::unique_lock<std::mutex>& lock, Waiter& waiter) {
    bool visiting = tl_member != this;
    if (visiting) ++participants_;
    waiting_.push_back(&waiter);
    settle();
    waiter.wake.wait(lock, [&] { return waiter.woken; });
    if (visiting) {
        --participants_;
        settle();
    }
}

void VirtualClock::wake(Waiter& waiter) {
    waiter.woken = true;
    waiter.wake.notify_one();
}

bool VirtualClock::wake_ready_observers() {
    std::uint64_t now = now_.load();
    auto due = [&](Waiter* w) { return w->ready && ((w->until && *w->until <= now) || (*w->ready)()); };
    auto first = std::stable_partition(waiting_.begin(), waiting_.end(), [&](Waiter* w) { return !due(w); });
    if (first == waiting_.end()) return false;
    for (auto it = first; it != waiting_.end(); ++it) wake(**it);
    waiting_.erase(first, waiting_.end());
    return true;
}

void VirtualClock::settle() {
    // Someone still runs: time stands still until it waits too.
    if (waiting_.size() < participants_ || waiting_.empty()) return;
    if (wake_ready_observers()) return;
    std::optional<std::uint64_t> next;
    for (Waiter* w : waiting_) {
        if (w->until && (!next || *w->until < *next)) next = w->until;
    }
    // Every participant waits on something only another thread can bring.
    if (!next) return;
    if (*next > now_.load()) now_.store(*next);
    // Pauses end first; observers due at the same time look once those have settled.
    auto first = std::stable_partition(waiting_.begin(), waiting_.end(),
                                       [&](Waiter* w) { return w->ready || *w->until > *next; });
    if (first == waiting_.end()) {
        wake_ready_observers();
        return;
    }
    for (auto it = first; it != waiting_.end(); ++it) wake(**it);
    waiting_.erase(first, waiting_.end());
}

}  // namespace wxr
