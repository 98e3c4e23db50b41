// One run on a unit as the command line makes it: the probe, then the query
// and the upgrade procedure under one silence watch, on the virtual clock.
#include <gtest/gtest.h>

#include "tests/device/scripted_hid.h"
#include "tests/upgrade/engine_fixture.h"
#include "upgrade/device_query.h"

namespace wxr {
namespace {

// A USB timeout per unanswered request; the probe's seven operations before the query.
sim::SimInterfaceConfig silent_after(std::uint64_t operations) {
    return {.transport_faults = {.silent_after = 7 + operations, .no_answer_ms = 5'000}};
}

struct Case {
    const char* name;
    sim::SimInterfaceConfig device;
    testing::Script script;  // reads and writes counted from the probe's on
    std::optional<UpgradeResult> result;  // nullopt: the query did not answer
    std::size_t block_reports_reached = 22;
};

const Case kCases[] = {
    {"Healthy", {}, {}, UpgradeResult::Succeeded},
    {"SlowButAnswering", {}, {.answer_ms = kMaxSilenceMs - 1}, UpgradeResult::Succeeded},
    {"SilentFromItsQuery", silent_after(0), {}, std::nullopt, 0},
    // The write went through; the read before it returned the probe's reply.
    {"SilentAfterItsQueryWrite", silent_after(3), {}, std::nullopt, 0},
    {"QueryReplyLost", {}, {.lost_gets = {4}}, std::nullopt, 0},
    {"SilentInTheProcedure", silent_after(300), {}, UpgradeResult::Failed, 0},
    // Block 0's first report is taken but its reply lost; the second is lost
    // on the way, and the read after it returns the first one's reply.
    {"LeftoverBlockReply", {}, {.lost_gets = {11}, .lost_sets = {119}}, UpgradeResult::Succeeded, 23},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class SilenceBound : public ::testing::TestWithParam<Case> {};

TEST_P(SilenceBound, CountsFromTheFirstRequestWithoutAFreshAnswer) {
    const Case& c = GetParam();
    testing::EngineBench bench;
    bench.add(c.device);
    bench.set_image(testing::test_image(38'648));
    testing::ScriptedHid hid(bench.hid, bench.clock, c.script);
    DeviceChannel channel(hid, bench.clock, &bench.transcript);
    bench.list.paths[0] = u"sim0";
    bench.list.count = 1;
    Report probed = make_report();
    ASSERT_EQ(probe_identity(channel, u"sim0", probed), ProbeAnswer::Identified);

    SilenceWatch silence;
    DeviceContext context{channel, bench.mutexes, bench.shift, bench.expected_model, bench.list, &silence};
    ImageInfo device;
    std::optional<UpgradeResult> result;
    if (query_device_info(context, device)) result = upgrade_firmware(context, bench.store, bench.progress, bench.messages);
    EXPECT_EQ(result, c.result);

    std::optional<std::uint64_t> first_unanswered_ms;
    std::size_t block_reports = 0;
    for (const auto& text : bench.transcript.lines()) {
        auto line = parse_transcript_line(text);
        if ((line->op == "get" || line->op == "set") && line->failed && !first_unanswered_ms) first_unanswered_ms = line->ms;
        block_reports += line->op == "set" && !line->failed && line->bytes.at(1) == 0x0C;
    }
    EXPECT_EQ(block_reports, c.block_reports_reached);
    // A failed run ends within the bound of its first unanswered request (the
    // query's pause after its write on top), not a timeout or two later.
    if (result != UpgradeResult::Succeeded && first_unanswered_ms) {
        EXPECT_LE(bench.clock.now_ms() - *first_unanswered_ms, kMaxSilenceMs + kIdentifyWaitMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, SilenceBound, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wxr
