// Every fault at every step of a healthy run, on the virtual clock: each run
// must end within a bound, and succeed exactly when expected and only when
// the device holds the whole image and took a matching end report.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "device/local_mutex.h"
#include "tests/upgrade/engine_fixture.h"

namespace wxr {
namespace {

using Config = sim::SimInterfaceConfig;

// The shipped image's length: 22 blocks, the last one short.
constexpr std::size_t kImageBytes = 38'648;
constexpr int kBlocks = 22;
// What an operation on a device that no longer answers costs: a USB timeout.
constexpr std::uint32_t kNoAnswerMs = 5'000;
// Longest run: the fixed pauses and the start (under 2 s), every block report
// tried to its bound with both busy polls and its 20 ms pause, and for each
// failed report the failures-in-a-row bound lets through, a timeout for every
// read of its two polls and for its write. A healthy run takes 1.5 s.
constexpr std::uint64_t kLongestRunMs = 2'000 +
                                        kBlocks * kMaxBlockReportTries * (2 * kReadsPerPoll * kBusyPauseMs + 20) +
                                        kMaxFailuresInARow * (2 * kReadsPerPoll + 1) * kNoAnswerMs;
// The sweeps along every operation run each case in the main build and every
// fiftieth under AddressSanitizer, whose debug build is some sixty times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t kOperationStride = 50;
#else
constexpr std::uint64_t kOperationStride = 1;
#endif

struct Outcome {
    UpgradeResult result;
    bool whole_image;  // flash equals the image and the end report matches it
    std::uint64_t ms;
    sim::InterfaceStats stats;
};

// One run against one listed device, without discovery or transcript, so
// that thousands of runs stay fast.
Outcome run(Config config, Transcript* transcript = nullptr) {
    static const auto image = testing::test_image(kImageBytes);
    VirtualClock clock;
    sim::SimHid hid(clock);
    config.path = u"sim:0";
    hid.add_interface(std::move(config));
    DeviceChannel channel(hid, clock, transcript);
    LocalNamedMutexFactory mutexes;
    testing::CountingShift shift;
    ExpectedModel model{16};
    DeviceList list;
    list.paths[0] = u"sim:0";
    list.count = 1;
    auto store = std::make_unique<ImageStore>();
    std::copy(image.begin(), image.end(), store->bytes.begin());
    store->length = static_cast<std::int32_t>(image.size());
    ProgressCounter progress{0};
    testing::RecordingMessages messages;
    DeviceContext context{channel, mutexes, shift, model, list};

    UpgradeResult result = upgrade_firmware(context, *store, progress, messages);
    const sim::DeviceModel device = hid.model(0);
    bool whole = std::equal(image.begin(), image.end(), device.flash().begin()) && device.end_report() &&
                 device.end_report()->matches_flash;
    return {result, whole, clock.now_ms(), hid.stats(0)};
}

const sim::InterfaceStats& healthy() {
    static const Outcome out = run({});
    return out.stats;
}
// Operations count from 1; the end report's write is the last one but its close.
std::uint64_t end_report_operation() { return healthy().operations - 1; }

// When each operation of a healthy run starts (index k: operation k + 1, the
// first that a device silent after k operations leaves unanswered), and the
// index of the first chunk's open.
struct Timeline {
    std::vector<std::uint64_t> starts;
    std::uint64_t first_chunk = 0;
};

const Timeline& healthy_timeline() {
    static const Timeline timeline = [] {
        Transcript transcript;
        run({}, &transcript);
        Timeline out;
        for (const auto& text : transcript.lines()) {
            auto line = parse_transcript_line(text);
            if (!line || line->op == "sleep") continue;
            if (out.first_chunk == 0 && line->op == "set" && line->bytes.at(1) == 0x0B) {
                out.first_chunk = out.starts.size() - 1;
            }
            out.starts.push_back(line->ms);
        }
        return out;
    }();
    return timeline;
}

// A device silent after k operations (from the first on: the procedure
// runs on a device that has just answered its query) is given up when its
// silence passes the bound, the request then in flight included: a few
// seconds after its first unanswered request, not the count's eight
// timeouts. Before the transfer a one-shot command's second request and the
// start's pauses come on top.
std::optional<std::uint64_t> silence_given_up_by(std::uint64_t k) {
    const Timeline& timeline = healthy_timeline();
    if (k >= timeline.starts.size()) return std::nullopt;
    std::uint64_t slack = k < timeline.first_chunk ? kNoAnswerMs + 400 : 200;
    return timeline.starts[k] + kMaxSilenceMs + kNoAnswerMs + slack;
}

struct Sweep {
    const char* name;
    std::uint64_t first;
    std::uint64_t (*last)();
    Config (*make)(std::uint64_t);
    bool (*should_succeed)(std::uint64_t);
    std::uint64_t stride;
    // The clock's latest reading at the end of a failed run, where bounded more tightly.
    std::optional<std::uint64_t> (*failed_by)(std::uint64_t) = nullptr;
};

// Counts of a block fault at and around its bound: case i is block i / 4.
int around_bound(std::uint64_t i, int bound) { return std::array{1, bound - 1, bound, bound + 1}[i % 4]; }

// Writes from `first` on lost `length` in a row; the device answers again after.
Config outage(std::uint64_t first, std::uint64_t length) {
    Config config;
    for (std::uint64_t w = first; w < first + length; ++w) config.transport_faults.drop_sets.insert(w);
    return config;
}

const Sweep kSweeps[] = {
    {"UnpluggedAfterEveryOperation", 0, [] { return healthy().operations; },
     [](std::uint64_t k) { return Config{.transport_faults = {.unplug_after = k, .no_answer_ms = kNoAnswerMs}}; },
     [](std::uint64_t k) { return k >= end_report_operation(); }, kOperationStride},
    {"SilentAfterEveryOperation", 0, [] { return healthy().operations; },
     [](std::uint64_t k) { return Config{.transport_faults = {.silent_after = k, .no_answer_ms = kNoAnswerMs}}; },
     [](std::uint64_t k) { return k >= end_report_operation(); }, kOperationStride, silence_given_up_by},
    // Resent or repeated, except the end report, the last write.
    {"EveryWriteLost", 1, [] { return healthy().writes; },
     [](std::uint64_t w) { return Config{.transport_faults = {.drop_sets = {w}}}; },
     [](std::uint64_t w) { return w != healthy().writes; }, kOperationStride},
    // Outages just short of the failures-in-a-row bound, ending before the end report.
    {"OutageShorterThanTheBoundAtEveryWrite", 1, [] { return healthy().writes - kMaxFailuresInARow + 1; },
     [](std::uint64_t w) { return outage(w, kMaxFailuresInARow - 1); }, [](std::uint64_t) { return true; },
     kOperationStride},
    {"FailedBlockChecksAtEveryBlock", 0, [] { return std::uint64_t{4 * kBlocks - 1}; },
     [](std::uint64_t i) { return Config{.model_faults = {.fail_block_check = {{int(i / 4), around_bound(i, kMaxBlockSends)}}}}; },
     [](std::uint64_t i) { return around_bound(i, kMaxBlockSends) < kMaxBlockSends; }, 1},
    {"RefusedBlockReportsAtEveryBlock", 0, [] { return std::uint64_t{4 * kBlocks - 1}; },
     [](std::uint64_t i) {
         return Config{.model_faults = {.refuse_block_report = {{int(i / 4), around_bound(i, kMaxBlockReportTries)}}}};
     },
     [](std::uint64_t i) { return around_bound(i, kMaxBlockReportTries) < kMaxBlockReportTries; }, 1},
    // Busy for fewer reads than a poll makes is within the device contract.
    {"BusyAfterEachCommand", 0, [] { return std::uint64_t{3 * kReadsPerPoll}; },
     [](std::uint64_t n) { return Config{.model_faults = {.busy_reads = int(n)}}; },
     [](std::uint64_t n) { return n < kReadsPerPoll; }, 1},
};

void PrintTo(const Sweep& sweep, std::ostream* out) { *out << sweep.name; }

class FaultSweep : public ::testing::TestWithParam<Sweep> {};

TEST_P(FaultSweep, EndsInBoundedTimeAndSucceedsOnlyWithTheWholeImage) {
    const Sweep& sweep = GetParam();
    int problems = 0;
    for (std::uint64_t i = sweep.first; i <= sweep.last() && problems < 5; i += sweep.stride) {
        Outcome out = run(sweep.make(i));
        bool succeeded = out.result == UpgradeResult::Succeeded;
        std::string wrong;
        if (out.ms > kLongestRunMs) wrong += " took " + std::to_string(out.ms) + " ms;";
        if (auto by = sweep.failed_by ? sweep.failed_by(i) : std::nullopt; by && !succeeded && out.ms > *by) {
            wrong += " ended at " + std::to_string(out.ms) + " ms, not by " + std::to_string(*by) + ";";
        }
        if (succeeded && !out.whole_image) wrong += " succeeded without the whole image;";
        if (succeeded != sweep.should_succeed(i)) wrong += succeeded ? " succeeded;" : " failed;";
        if (out.result == UpgradeResult::NoInfoBlock) wrong += " said nothing;";
        if (out.stats.open_handles != 0) wrong += " left the device open;";
        if (!wrong.empty()) ADD_FAILURE() << "case " << i << ":" << wrong << " (" << ++problems << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSweep, ::testing::ValuesIn(kSweeps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FaultSweepBounds, ABoundEndsTheRunAndOnlyFailuresInARowCount) {
    EXPECT_GT(healthy().operations, 7'000u);
    EXPECT_EQ(run({.model_faults = {.stay_busy = true}}).result, UpgradeResult::Failed);
    // Chunk c of block b is write 4 + 113 b + c when every block report is confirmed at once.
    for (std::uint64_t block = 0; block < kBlocks; ++block) {
        Outcome out = run(outage(4 + 113 * block + 50, kMaxFailuresInARow));
        EXPECT_EQ(out.result, UpgradeResult::Failed) << block;
        EXPECT_LE(out.ms, kLongestRunMs);
    }
    // The last chunks of block 3 lost, its block check answered, and the
    // first chunk of its resend lost: the answer started a new count.
    Config answered_between = outage(4 + 113 * 3 + 112 - (kMaxFailuresInARow - 1), kMaxFailuresInARow - 1);
    answered_between.transport_faults.drop_sets.insert(4 + 113 * 3 + 112);
    EXPECT_EQ(run(answered_between).result, UpgradeResult::Succeeded);
}

}  // namespace
}  // namespace wxr

