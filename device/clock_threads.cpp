#include "device/clock_threads.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace wxr {

std::thread start_clock_thread(Clock& clock, std::function<void()> body) {
    clock.count_in();
    try {
        return std::thread([&clock, body = std::move(body)] {
            clock.arrive();
            body();
            clock.depart();
        });
    } catch (...) {
        clock.count_out();
        throw;
    }
}

void run_on_threads(Clock& clock, std::size_t count, std::size_t max_at_once,
                    const std::function<void(std::size_t)>& body) {
    for (std::size_t first = 0; first < count; first += max_at_once) {
        std::size_t end = std::min(count, first + max_at_once);
        std::vector<std::thread> threads;
        std::size_t started = 0;
        std::atomic<std::size_t> done{0};
        try {
            // Room for every thread first: none may be dropped while joinable.
            threads.reserve(end - first);
        } catch (const std::bad_alloc&) {
        }
        for (std::size_t i = first; i < end; ++i) {
            if (threads.size() == threads.capacity()) {
                body(i);
                continue;
            }
            try {
                threads.push_back(start_clock_thread(clock, [&, i] {
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
