#include "device/clock_threads.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace wxr {

namespace {

// A thread for a participant already counted in; counted out if it cannot start.
std::thread start_counted_thread(Clock& clock, std::uint64_t ticket, std::function<void()> body) {
    try {
        return std::thread([&clock, ticket, body = std::move(body)] {
            clock.arrive(ticket);
            body();
            clock.depart();
        });
    } catch (...) {
        clock.count_out();
        throw;
    }
}

}  // namespace

std::thread start_clock_thread(Clock& clock, std::function<void()> body) {
    const std::uint64_t ticket = clock.count_in();
    return start_counted_thread(clock, ticket, std::move(body));
}

void run_on_threads(Clock& clock, std::size_t count, std::size_t max_at_once,
                    const std::function<void(std::size_t)>& body) {
    for (std::size_t first = 0; first < count; first += max_at_once) {
        std::size_t end = std::min(count, first + max_at_once);
        std::vector<std::thread> threads;
        std::vector<std::uint64_t> tickets;
        std::size_t started = 0;
        std::atomic<std::size_t> done{0};
        try {
            // Room for every thread first: none may be dropped while joinable.
            threads.reserve(end - first);
            tickets.reserve(end - first);
        } catch (const std::bad_alloc&) {
        }
        // The whole wave is counted in first, in index order: the caller need
        // not take part for time to wait until the last of them has started.
        std::size_t counted = std::min({threads.capacity(), tickets.capacity(), end - first});
        for (std::size_t i = 0; i < counted; ++i) tickets.push_back(clock.count_in());
        for (std::size_t i = first; i < end; ++i) {
            if (counted == 0) {
                body(i);
                continue;
            }
            --counted;  // used by this thread, or counted out if it cannot start
            try {
                threads.push_back(start_counted_thread(clock, tickets[i - first], [&, i] {
                    body(i);
                    ++done;
                    clock.notify();
                }));
                ++started;
            } catch (const std::exception&) {
                // No thread to be had: this index runs here.
                body(i);
            }
        }
        clock.wait_for(std::nullopt, [&] { return done.load() == started; });
        for (auto& thread : threads) thread.join();
    }
}

}  // namespace wxr
