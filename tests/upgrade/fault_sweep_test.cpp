// Every fault at every step of a healthy run, on the virtual clock: each run
// must end within a bound, and succeed only when the device holds the whole
// image and took a matching end report.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "device/local_mutex.h"
#include "device/report.h"
#include "device/sim/sim_hid.h"
#include "device/sim/virtual_clock.h"
#include "tests/upgrade/engine_fixture.h"

namespace wxr {
namespace {

// The shipped image's length: 22 blocks, the last one short.
constexpr std::size_t kImageBytes = 38'648;
constexpr int kBlocks = 22;
// What a device that no longer answers costs per operation: a USB timeout.
constexpr std::uint32_t kNoAnswerMs = 5'000;
// Longest run: the fixed pauses and the start (under 2 s), every block report
// tried to its bound with both busy polls and its 20 ms pause, and for each
// failed report the failures-in-a-row bound lets through, a timeout for every
// read of its two polls and for its write. A healthy run takes 1.5 s.
constexpr std::uint64_t kLongestRunMs =
    2'000 + kBlocks * kMaxBlockReportTries * (2 * kReadsPerPoll * kBusyPauseMs + 20) +
    kMaxFailuresInARow * (2 * kReadsPerPoll + 1) * kNoAnswerMs;
// The sweeps along every operation run every case in the main build and
// every twentieth under the sanitizers, which are many times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t kOperationStride = 20;
#else
constexpr std::uint64_t kOperationStride = 1;
#endif

struct Outcome {
    UpgradeResult result = UpgradeResult::NoInfoBlock;
    bool whole_image = false;  // flash equals the image and the end report matches it
    std::uint64_t ms = 0;
    sim::InterfaceStats stats;
};

const std::vector<std::uint8_t>& image() {
    static const auto bytes = testing::test_image(kImageBytes);
    return bytes;
}

// One run of the procedure against one simulated device, without discovery
// and without a transcript, so that thousands of runs stay fast.
Outcome run(sim::SimInterfaceConfig config) {
    VirtualClock clock;
    sim::SimHid hid(clock);
    config.path = u"sim:0";
    hid.add_interface(std::move(config));
    DeviceChannel channel(hid, clock);
    LocalNamedMutexFactory mutexes;
    testing::CountingShift shift;
    ExpectedModel model{16};
    DeviceList list;
    list.paths[0] = u"sim:0";
    list.count = 1;
    auto store = std::make_unique<ImageStore>();
    std::copy(image().begin(), image().end(), store->bytes.begin());
    store->length = static_cast<std::int32_t>(kImageBytes);
    ProgressCounter progress{0};
    testing::RecordingMessages messages;
    DeviceContext context{channel, mutexes, shift, model, list};

    Outcome out;
    out.result = upgrade_firmware(context, *store, progress, messages);
    out.ms = clock.now_ms();
    out.stats = hid.stats(0);
    const sim::DeviceModel device = hid.model(0);
    out.whole_image = std::equal(image().begin(), image().end(), device.flash().begin()) &&
                      device.end_report() && device.end_report()->matches_flash;
    return out;
}

using MakeConfig = std::function<sim::SimInterfaceConfig(std::uint64_t)>;

// Runs the cases first, first + stride, ... up to last: each must end in
// bounded time, succeed only with the whole image, and succeed exactly when
// `should_succeed(i)` says so.
void sweep(std::uint64_t first, std::uint64_t last, const MakeConfig& make,
           const std::function<bool(std::uint64_t)>& should_succeed, std::uint64_t stride = 1) {
    int problems = 0;
    for (std::uint64_t i = first; i <= last && problems < 5; i += stride) {
        Outcome out = run(make(i));
        bool succeeded = out.result == UpgradeResult::Succeeded;
        std::string wrong;
        if (out.ms > kLongestRunMs) wrong += " took " + std::to_string(out.ms) + " ms;";
        if (succeeded && !out.whole_image) wrong += " reported success without the whole image;";
        if (succeeded != should_succeed(i)) wrong += succeeded ? " succeeded;" : " failed;";
        if (out.result == UpgradeResult::NoInfoBlock) wrong += " said nothing;";
        if (out.stats.open_handles != 0) wrong += " left the device open;";
        if (!wrong.empty()) {
            ++problems;
            ADD_FAILURE() << "case " << i << ":" << wrong;
        }
    }
}

// The healthy run every sweep walks along.
const Outcome& healthy() {
    static const Outcome out = run({});
    return out;
}

TEST(FaultSweep, HealthyRunIsWhole) {
    EXPECT_EQ(healthy().result, UpgradeResult::Succeeded);
    EXPECT_TRUE(healthy().whole_image);
    EXPECT_GT(healthy().stats.operations, 7'000u);
}

// Operations numbered from 1; the end report's write is the last but its close.
std::uint64_t end_report_write() { return healthy().stats.operations - 1; }

TEST(FaultSweep, UnpluggedAfterEveryOperation) {
    sweep(0, healthy().stats.operations,
          [](std::uint64_t k) { return sim::SimInterfaceConfig{.transport_faults = {.unplug_after = k, .no_answer_ms = kNoAnswerMs}}; },
          [](std::uint64_t k) { return k >= end_report_write(); }, kOperationStride);
}

TEST(FaultSweep, SilentAfterEveryOperation) {
    sweep(0, healthy().stats.operations,
          [](std::uint64_t k) { return sim::SimInterfaceConfig{.transport_faults = {.silent_after = k, .no_answer_ms = kNoAnswerMs}}; },
          [](std::uint64_t k) { return k >= end_report_write(); }, kOperationStride);
}

// A lost write is resent or repeated, except the end report's, the last one.
TEST(FaultSweep, EveryWriteLost) {
    const std::uint64_t writes = healthy().stats.writes;
    sweep(1, writes, [](std::uint64_t w) { return sim::SimInterfaceConfig{.transport_faults = {.drop_sets = {w}}}; },
          [=](std::uint64_t w) { return w != writes; }, kOperationStride);
}

// Writes from `first` on lost `length` in a row: the device recovers after.
sim::SimInterfaceConfig outage(std::uint64_t first, std::uint64_t length) {
    sim::SimInterfaceConfig config;
    for (std::uint64_t w = first; w < first + length; ++w) config.transport_faults.drop_sets.insert(w);
    return config;
}

// Outages that end before the end report (the last write; losing it is
// EveryWriteLost's case).
TEST(FaultSweep, OutageShorterThanTheBoundAtEveryWrite) {
    const std::uint64_t length = kMaxFailuresInARow - 1;
    sweep(1, healthy().stats.writes - length, [=](std::uint64_t w) { return outage(w, length); },
          [](std::uint64_t) { return true; }, kOperationStride);
}

TEST(FaultSweep, OutageAtTheBoundInsideEveryBlockEndsTheRun) {
    // Writes 1-3 are the start report and the one-shots; chunk c of block b
    // is write 4 + 113 b + c on a run where every block report is confirmed.
    for (std::uint64_t block = 0; block < kBlocks; ++block) {
        for (std::uint64_t chunk : {0u, 50u, 104u}) {
            Outcome out = run(outage(4 + 113 * block + chunk, kMaxFailuresInARow));
            EXPECT_EQ(out.result, UpgradeResult::Failed) << block << ":" << chunk;
            EXPECT_LE(out.ms, kLongestRunMs);
        }
    }
}

// Counts of block faults at and around each bound, at every block.
void sweep_block_faults(std::map<int, int> sim::ModelFaults::*faults, int bound) {
    const int counts[] = {1, bound - 1, bound, bound + 1};
    sweep(0, kBlocks * 4 - 1,
          [=](std::uint64_t i) {
              sim::SimInterfaceConfig config;
              (config.model_faults.*faults)[static_cast<int>(i / 4)] = counts[i % 4];
              return config;
          },
          [=](std::uint64_t i) { return counts[i % 4] < bound; });
}

TEST(FaultSweep, FailedBlockChecksAtEveryBlock) {
    sweep_block_faults(&sim::ModelFaults::fail_block_check, kMaxBlockSends);
}

TEST(FaultSweep, RefusedBlockReportsAtEveryBlock) {
    sweep_block_faults(&sim::ModelFaults::refuse_block_report, kMaxBlockReportTries);
}

// A device that answers busy to fewer reads than a poll makes still gets the
// image; a slower one never confirms a block report, and one that never
// clears its flag fails its block checks.
TEST(FaultSweep, BusyDevices) {
    sweep(0, 3 * kReadsPerPoll,
          [](std::uint64_t n) { return sim::SimInterfaceConfig{.model_faults = {.busy_reads = static_cast<int>(n)}}; },
          [](std::uint64_t n) { return n < kReadsPerPoll; });
    Outcome stuck = run({.model_faults = {.stay_busy = true}});
    EXPECT_EQ(stuck.result, UpgradeResult::Failed);
    EXPECT_LE(stuck.ms, kLongestRunMs);
}

}  // namespace
}  // namespace wxr
