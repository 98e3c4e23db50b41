// One run on a unit as the command line makes it: the probe, then the query
// and the upgrade procedure under one silence watch, on the virtual clock.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "tests/device/scripted_hid.h"
#include "tests/upgrade/engine_fixture.h"
#include "upgrade/device_query.h"

namespace wxr {
namespace {

using testing::Script;

// What an unanswered request costs over USB.
constexpr std::uint32_t kTimeoutMs = 5'000;
// Device operations of the probe (open, caps, attributes, get, set, get, close):
// silent after these, a unit is silent from its query on.
constexpr std::uint64_t kProbeOperations = 7;
// Block reports when each is confirmed at once.
constexpr std::size_t kBlocks = 22;

struct Case {
    const char* name;
    sim::SimInterfaceConfig device;
    Script script;  // reads and writes counted from the probe's on
    bool answered;  // the query
    std::optional<UpgradeResult> result;  // of the procedure, when the query answered
    std::size_t block_reports_reached = kBlocks;
};

sim::SimInterfaceConfig silent_after(std::uint64_t operations) {
    return {.transport_faults = {.silent_after = operations, .no_answer_ms = kTimeoutMs}};
}

const Case kCases[] = {
    {"Healthy", {}, {}, true, UpgradeResult::Succeeded},
    {"SlowButAnswering", {}, {.answer_ms = kMaxSilenceMs - 1}, true, UpgradeResult::Succeeded},
    // Three timeouts (read, write, read) without the query under the bound.
    {"SilentFromItsQuery", silent_after(kProbeOperations), {}, false, std::nullopt, 0},
    // The write went through, the reply never came: what the read before it
    // returned is the probe's reply.
    {"SilentAfterItsQueryWrite", silent_after(kProbeOperations + 3), {}, false, std::nullopt, 0},
    {"QueryReplyLost", {}, {.lost_gets = {4}}, false, std::nullopt, 0},
    {"SilentInTheProcedure", silent_after(300), {}, true, UpgradeResult::Failed, 0},
    // Block 0's first report is taken, its reply lost; the second one is lost
    // on the way, and the read after it returns the first one's reply.
    {"LeftoverBlockReply", {}, {.lost_gets = {11}, .lost_sets = {119}}, true, UpgradeResult::Succeeded, kBlocks + 1},
};

struct Outcome {
    bool answered = false;
    std::optional<UpgradeResult> result;
    std::size_t block_reports_reached = 0;
    std::optional<std::uint64_t> first_unanswered_ms;
    std::uint64_t end_ms = 0;
};

Outcome run(const Case& c) {
    testing::EngineBench bench;
    bench.add(c.device);
    bench.set_image(testing::test_image(38'648));
    testing::ScriptedHid hid(bench.hid, bench.clock, c.script);
    DeviceChannel channel(hid, bench.clock, &bench.transcript);
    bench.list.paths[0] = u"sim0";
    bench.list.count = 1;
    Report probed = make_report();
    EXPECT_EQ(probe_identity(channel, u"sim0", probed), ProbeAnswer::Identified);

    SilenceWatch silence;
    DeviceContext context{channel, bench.mutexes, bench.shift, bench.expected_model, bench.list, &silence};
    Outcome out;
    ImageInfo device;
    out.answered = query_device_info(context, device);
    if (out.answered) out.result = upgrade_firmware(context, bench.store, bench.progress, bench.messages);
    out.end_ms = bench.clock.now_ms();
    for (const char* op : {"get", "set"}) {
        for (const auto& line : bench.lines_of(op)) {
            if (line.failed && (!out.first_unanswered_ms || line.ms < *out.first_unanswered_ms)) {
                out.first_unanswered_ms = line.ms;
            }
        }
    }
    for (const auto& line : bench.lines_of("set")) out.block_reports_reached += !line.failed && line.bytes.at(1) == 0x0C;
    return out;
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class SilenceBound : public ::testing::TestWithParam<Case> {};

TEST_P(SilenceBound, CountsFromTheFirstRequestWithoutAFreshAnswer) {
    const Case& c = GetParam();
    const Outcome out = run(c);
    EXPECT_EQ(out.answered, c.answered);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.block_reports_reached, c.block_reports_reached);
    // A run that failed ends within the bound of its first unanswered request
    // (the query's pause after its write on top), however many requests it made.
    if (out.result != UpgradeResult::Succeeded && out.first_unanswered_ms) {
        EXPECT_LE(out.end_ms - *out.first_unanswered_ms, kMaxSilenceMs + kIdentifyWaitMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, SilenceBound, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wxr
