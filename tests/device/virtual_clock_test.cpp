// The discrete-event clock: participants side by side each see the times
// they would see alone, and an observer sees only still points.
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "device/clock_threads.h"
#include "device/sim/virtual_clock.h"

namespace wxr {
namespace {

// Each thread's pauses, and the times it saw after each.
struct Plan {
    std::vector<std::vector<std::uint32_t>> pauses;
};

std::vector<std::vector<std::uint64_t>> run_plan(VirtualClock& clock, const Plan& plan) {
    std::vector<std::vector<std::uint64_t>> seen(plan.pauses.size());
    run_on_threads(clock, plan.pauses.size(), plan.pauses.size(), [&](std::size_t i) {
        for (std::uint32_t ms : plan.pauses[i]) {
            clock.sleep_ms(ms);
            seen[i].push_back(clock.now_ms());
        }
    });
    return seen;
}

TEST(VirtualClock, ThreadsSideBySideEachSeeTheirOwnPausesAdded) {
    const Plan plans[] = {
        {{{100}}},
        {{{100}, {300}}},
        {{{20, 20, 20}, {50, 0, 5}, {1000}}},
        {{{1, 1, 1, 1, 1, 1, 1, 1}, {3, 3}, {2, 2, 2}, {8}, {0}}},
        {std::vector<std::vector<std::uint32_t>>(40, {20, 50, 20, 500, 20})},
    };
    for (const Plan& plan : plans) {
        VirtualClock clock;
        auto seen = run_plan(clock, plan);
        std::uint64_t longest = 0;
        for (std::size_t i = 0; i < plan.pauses.size(); ++i) {
            std::vector<std::uint64_t> expected;
            std::uint64_t at = 0;
            for (std::uint32_t ms : plan.pauses[i]) expected.push_back(at += ms);
            EXPECT_EQ(seen[i], expected) << "thread " << i;
            longest = std::max(longest, at);
        }
        EXPECT_EQ(clock.now_ms(), longest);
        EXPECT_EQ(clock.participants(), 0u);
    }
}

TEST(VirtualClock, AThreadAloneMovesItAtOnce) {
    VirtualClock clock;
    clock.sleep_ms(250);
    clock.sleep_ms(0);
    EXPECT_EQ(clock.now_ms(), 250u);
    // An observer alone: its limit passes at once; a ready() ends it where it stands.
    EXPECT_FALSE(clock.wait_for(200, [] { return false; }));
    EXPECT_EQ(clock.now_ms(), 450u);
    EXPECT_TRUE(clock.wait_for(std::nullopt, [] { return true; }));
    EXPECT_EQ(clock.now_ms(), 450u);
}

// The observer looks only when every participant waits: it never sees a
// worker between its two steps, and pauses due when it looks have run.
TEST(VirtualClock, AnObserverSeesOnlyStillPoints) {
    VirtualClock clock;
    ClockParticipant self(clock);
    constexpr int kWorkers = 8;
    constexpr int kSteps = 50;
    std::atomic<int> half_steps{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.push_back(start_clock_thread(clock, [&] {
            for (int s = 0; s < kSteps; ++s) {
                ++half_steps;
                std::this_thread::yield();
                ++half_steps;
                clock.sleep_ms(10);
            }
            ++finished;
        }));
    }
    int looks = 0;
    while (!clock.wait_for(15, [&] { return finished.load() == kWorkers; })) {
        ++looks;
        EXPECT_EQ(half_steps.load() % 2, 0);
        // Pauses of 10 ms, looks every 15: the steps done follow from the time alone.
        std::uint64_t steps = std::min<std::uint64_t>(clock.now_ms() / 10 + 1, kSteps);
        EXPECT_EQ(half_steps.load(), static_cast<int>(2 * kWorkers * steps)) << "at " << clock.now_ms();
    }
    for (auto& t : workers) t.join();
    EXPECT_GT(looks, 10);
    EXPECT_EQ(clock.now_ms(), static_cast<std::uint64_t>(kSteps * 10));
}

// Twice the same work gives the same times, whatever the threads' real order.
TEST(VirtualClock, TheSameWorkGivesTheSameTimesEveryRun) {
    Plan plan;
    for (std::uint32_t i = 0; i < 16; ++i) plan.pauses.push_back({i + 1, 3 * i + 2, 7, 20 - i});
    VirtualClock first, second;
    EXPECT_EQ(run_plan(first, plan), run_plan(second, plan));
}

// Serial: the interleaving itself repeats, threads due at one instant taking
// turns in the order they were started. The shared vector has no lock: one
// participant runs at a time (ThreadSanitizer would see it otherwise).
TEST(VirtualClock, SerialScheduleRepeatsTheInterleaving) {
    auto interleaving = [] {
        VirtualClock clock(VirtualClock::Schedule::Serial);
        std::vector<std::size_t> order;
        run_on_threads(clock, 6, 6, [&](std::size_t i) {
            for (std::uint32_t step = 0; step < 4; ++step) {
                order.push_back(i);
                clock.sleep_ms(step % 2 ? 10 : 10 + static_cast<std::uint32_t>(i % 2));
            }
        });
        return order;
    };
    const std::vector<std::size_t> first = interleaving();
    EXPECT_EQ(std::vector<std::size_t>(first.begin(), first.begin() + 6), (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
    for (int again = 0; again < 20; ++again) ASSERT_EQ(interleaving(), first);
}

}  // namespace
}  // namespace wxr
