// Threads that pause on the clock: counted in before they start, so that a
// virtual clock stands still until each of them waits or has ended.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>

#include "device/hid_platform.h"

namespace wxr {

// The calling thread takes part in the clock while this lives.
class ClockParticipant {
public:
    explicit ClockParticipant(Clock& clock) : clock_(clock) { clock_.arrive(clock_.count_in()); }
    ~ClockParticipant() { clock_.depart(); }
    ClockParticipant(const ClockParticipant&) = delete;
    ClockParticipant& operator=(const ClockParticipant&) = delete;

private:
    Clock& clock_;
};

// Starts body on its own thread taking part in the clock; throws what
// std::thread throws when no thread can be had. body must not throw.
std::thread start_clock_thread(Clock& clock, std::function<void()> body);

// Runs body(0) .. body(count - 1) each on its own thread, at most max_at_once
// at a time, and returns when all have ended; the wait is a wait on the clock.
// An index whose thread cannot be had runs on the calling thread. body must
// not throw.
void run_on_threads(Clock& clock, std::size_t count, std::size_t max_at_once,
                    const std::function<void(std::size_t)>& body);

}  // namespace wxr
