#include "device/sim/virtual_clock.h"

#include <algorithm>

namespace wxr {

namespace {

// The clock this thread takes part in, if any, and its ticket: a thread that
// waits without taking part counts as a participant for the length of its
// wait, ordered after every thread counted in before.
thread_local const VirtualClock* tl_member = nullptr;
thread_local std::uint64_t tl_ticket = 0;

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

std::uint64_t VirtualClock::count_in() {
    std::lock_guard lock(mutex_);
    ++participants_;
    return next_ticket_++;
}

void VirtualClock::count_out() {
    std::lock_guard lock(mutex_);
    --participants_;
    settle();
}

void VirtualClock::arrive(std::uint64_t ticket) {
    tl_member = this;
    tl_ticket = ticket;
    if (!serial_) return;
    // A new thread runs only when its turn comes.
    std::unique_lock lock(mutex_);
    Waiter waiter;
    waiter.until = now_.load();
    wait(lock, waiter);
}

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
    waiter.order = visiting ? next_ticket_++ : tl_ticket;
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

void VirtualClock::settle() {
    // Someone still runs: time stands still until it waits too.
    if (waiting_.size() < participants_ || waiting_.empty()) return;
    if (serial_) {
        settle_serial();
    } else {
        settle_parallel();
    }
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

std::optional<std::uint64_t> VirtualClock::next_end() const {
    std::optional<std::uint64_t> next;
    for (Waiter* w : waiting_) {
        if (w->until && (!next || *w->until < *next)) next = w->until;
    }
    return next;
}

void VirtualClock::settle_parallel() {
    if (wake_ready_observers()) return;
    std::optional<std::uint64_t> next = next_end();
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

template <typename Due>
VirtualClock::Waiter* VirtualClock::first_due(Due&& due) const {
    Waiter* first = nullptr;
    for (Waiter* w : waiting_) {
        if (due(*w) && (!first || w->order < first->order)) first = w;
    }
    return first;
}

void VirtualClock::settle_serial() {
    for (;;) {
        const std::uint64_t now = now_.load();
        Waiter* next = first_due([&](const Waiter& w) { return !w.ready && *w.until <= now; });
        if (!next) {
            next = first_due([&](const Waiter& w) { return w.ready && ((w.until && *w.until <= now) || (*w.ready)()); });
        }
        if (next) {
            std::erase(waiting_, next);
            wake(*next);
            return;
        }
        std::optional<std::uint64_t> end = next_end();
        // Every participant waits on something only another thread can bring.
        if (!end) return;
        now_.store(*end);
    }
}

}  // namespace wxr
