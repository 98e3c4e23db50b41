#include <gtest/gtest.h>

#include <numeric>

#include "device/report.h"
#include "device/sim/device_model.h"
#include "tests/device/sim_fixture.h"

namespace wxr {
namespace {

using sim::DeviceModel;

std::array<std::uint8_t, sim::kReplyLength> read(DeviceModel& model) {
    std::array<std::uint8_t, sim::kReplyLength> out{};
    out[0] = kReportId;
    model.on_get(out);
    return out;
}

Report chunk(std::uint32_t offset, std::uint8_t fill) {
    Report r = make_report();
    r[1] = sim::kCodeChunk;
    put_u16(r, 2, offset);
    for (int i = 0; i < 16; ++i) r[4 + i] = static_cast<std::uint8_t>(fill + i);
    return r;
}

Report command(std::uint8_t code, std::uint32_t a, std::uint32_t b) {
    Report r = make_report();
    r[1] = code;
    put_u16(r, 2, a);
    put_u16(r, 4, b);
    return r;
}

void send_block_chunks(DeviceModel& model, std::uint8_t fill, std::uint32_t skip = 0xFFFF) {
    for (std::uint32_t c = 0; c < sim::kBlockBytes; c += 16) {
        if (c != skip) model.on_set(chunk(c, fill));
    }
}

TEST(SimDevice, IdentifiesWithVersionModelAndSensor) {
    DeviceModel model({.version = 57, .model = 16, .sensor = 3});
    model.on_set(identification_report());
    auto reply = read(model);
    EXPECT_EQ(reply[1], 0x41);
    EXPECT_EQ(reply[2], 0x42);
    EXPECT_EQ(reply[4], 57);
    EXPECT_EQ(reply[5], 16);
    EXPECT_EQ(reply[6], 3);
    // A one-shot command with code 0 but parameters is not an identification.
    model.on_set(one_shot_report(0x12120000));
    EXPECT_EQ(model.counters().identifications, 1u);
    EXPECT_EQ(model.counters().one_shots, (std::vector<std::uint32_t>{0x12120000}));
}

TEST(SimDevice, BlockCheckPassesOnlyWhenAll112ChunksArrived) {
    DeviceModel model;
    model.on_set(command(sim::kCodeStart, 0, 0));
    send_block_chunks(model, 0x10, /*skip=*/0x320);
    auto check = read(model);
    EXPECT_EQ(check[2], 0x0B);
    EXPECT_EQ(check[5], 111);

    // A block report without every chunk is refused.
    model.on_set(command(sim::kCodeBlock, 0, 1792));
    EXPECT_NE(read(model)[2], 0x0C);

    model.on_set(chunk(0x320, 0x10));
    check = read(model);
    EXPECT_EQ(check[5], 0x70);
    model.on_set(command(sim::kCodeBlock, 0, 1792));
    EXPECT_EQ(read(model)[2], 0x0C);
    EXPECT_EQ(model.flash()[0], 0x10);
    EXPECT_EQ(model.flash()[0x325], 0x15);
    EXPECT_EQ(model.counters().blocks_accepted, 1u);
}

TEST(SimDevice, BlockReportStoresOnlyTheBlockLength) {
    DeviceModel model;
    send_block_chunks(model, 0x00);
    model.on_set(command(sim::kCodeBlock, 0, 100));
    EXPECT_EQ(read(model)[2], 0x0C);
    EXPECT_EQ(model.flash()[99], 0x03);
    EXPECT_EQ(model.flash()[100], sim::kErasedByte);

    // The next block must come at the next block offset.
    send_block_chunks(model, 0x40);
    model.on_set(command(sim::kCodeBlock, 3584, 1792));
    EXPECT_NE(read(model)[2], 0x0C);
    model.on_set(command(sim::kCodeBlock, 1792, 1792));
    EXPECT_EQ(read(model)[2], 0x0C);
}

TEST(SimDevice, InjectedBlockFaultsCountDown) {
    DeviceModel model({}, {.fail_block_check = {{0, 2}}, .refuse_block_report = {{0, 1}}});
    send_block_chunks(model, 0x01);
    EXPECT_EQ(read(model)[5], 111);
    EXPECT_EQ(read(model)[5], 111);
    EXPECT_EQ(read(model)[5], 112);
    model.on_set(command(sim::kCodeBlock, 0, 1792));
    EXPECT_EQ(read(model)[2], 0x00);
    model.on_set(command(sim::kCodeBlock, 0, 1792));
    EXPECT_EQ(read(model)[2], 0x0C);
    // A repeat of the accepted block report (a lost reply) is confirmed again.
    model.on_set(command(sim::kCodeBlock, 0, 1792));
    EXPECT_EQ(read(model)[2], 0x0C);
    EXPECT_EQ(model.counters().blocks_accepted, 1u);
}

TEST(SimDevice, EndReportIsComparedWithFlash) {
    DeviceModel model;
    send_block_chunks(model, 0x02);
    model.on_set(command(sim::kCodeBlock, 0, 64));
    std::uint32_t sum = 0;
    for (int i = 0; i < 64; ++i) sum += model.flash()[i];
    model.on_set(command(sim::kCodeEnd, 64, sum & 0xFFFF));
    ASSERT_TRUE(model.end_report());
    EXPECT_TRUE(model.end_report()->matches_flash);
    model.on_set(command(sim::kCodeEnd, 64, (sum + 1) & 0xFFFF));
    EXPECT_FALSE(model.end_report()->matches_flash);
}

TEST(SimHid, InterfacesWithOtherReportLengthsAndIdentities) {
    testing::SimBench bench;
    bench.add({.path = u"a", .feature_report_length = 22});
    bench.add({.path = u"b", .identity = {.model = 7}});
    auto paths = bench.hid.enumerate();
    ASSERT_TRUE(paths);
    EXPECT_EQ(*paths, (std::vector<DevicePath>{u"a", u"b"}));

    Device a = open_device(bench.channel, u"a");
    HidCapabilities caps;
    ASSERT_TRUE(bench.channel.capabilities(a, caps));
    EXPECT_EQ(caps.feature_report_length, 22);
    close_device(a);
    EXPECT_EQ(bench.hid.stats(0).writes, 0u);

    Device b = open_device(bench.channel, u"b");
    Report status = make_report();
    exchange_feature(b, identification_report(), status, 0);
    close_device(b);
    EXPECT_EQ(status[5], 7);
    EXPECT_EQ(bench.hid.stats(1).open_handles, 0u);
}

TEST(SimHid, UnplugAfterOperationsFailsEverythingFromThenOn) {
    testing::SimBench bench;
    bench.add({.path = u"sim0", .transport_faults = {.unplug_after = 3}});
    Device d = open_device(bench.channel, u"sim0");  // 1
    Report status = make_report();
    exchange_feature(d, identification_report(), status, 0);  // get 2, set 3, get 4 fails
    close_device(d);
    EXPECT_EQ(testing::ops(bench.transcript),
              (std::vector<std::string>{"open", "get", "set", "get failed", "close"}));
    EXPECT_FALSE(open_device(bench.channel, u"sim0"));
    EXPECT_TRUE(bench.hid.enumerate()->empty());
    EXPECT_TRUE(bench.hid.stats(0).unplugged);
}

// A replugged unit is away for a second, then answers with what it was written.
TEST(SimHid, ArrivalAndReplugFollowTheClock) {
    testing::SimBench bench;
    bench.add({.path = u"sim0", .presence = {.arrive_ms = 1000, .replug_after_ms = 500}});
    EXPECT_TRUE(bench.hid.enumerate()->empty());
    EXPECT_FALSE(open_device(bench.channel, u"sim0"));
    bench.clock.sleep_ms(1000);
    Device held = open_device(bench.channel, u"sim0");
    ASSERT_TRUE(held);
    bench.clock.sleep_ms(500);
    EXPECT_TRUE(bench.hid.enumerate()->empty());
    Report status = make_report();
    EXPECT_FALSE(exchange_feature(held, identification_report(), status, 0));
    close_device(held);
    bench.clock.sleep_ms(sim::kReplugGapMs);
    EXPECT_EQ(bench.hid.enumerate()->size(), 1u);
    Device back = open_device(bench.channel, u"sim0");
    EXPECT_TRUE(back);
    close_device(back);
    EXPECT_EQ(bench.hid.stats(0).open_handles, 0u);
}

// Units come and go by the clock; the bench says when nothing more will change.
TEST(SimHid, UnitsTakenAwayForGoodLeaveTheBenchAndItsFutureEmpty) {
    testing::SimBench bench;
    bench.add({.path = u"late", .presence = {.arrive_ms = 3000}});
    bench.add({.path = u"brief", .presence = {.arrive_ms = 0, .leave_after_ms = 1000}});
    bench.add({.path = u"stays"});
    bench.add({.path = u"brief", .presence = {.arrive_ms = 2000}});  // another unit where it was
    using Paths = std::vector<DevicePath>;
    const std::pair<std::uint32_t, Paths> timeline[] = {
        {0, {u"brief", u"stays"}},
        {1000, {u"stays"}},
        {1000, {u"stays", u"brief"}},
        {1000, {u"late", u"stays", u"brief"}},
    };
    for (const auto& [pause, present] : timeline) {
        EXPECT_TRUE(bench.hid.presence_changes_to_come()) << bench.clock.now_ms();
        bench.clock.sleep_ms(pause);
        EXPECT_EQ(*bench.hid.enumerate(), present) << bench.clock.now_ms();
    }
    EXPECT_FALSE(bench.hid.presence_changes_to_come());
    // The path opens the unit there now, whose flash is its own.
    Device d = open_device(bench.channel, u"brief");
    ASSERT_TRUE(d);
    close_device(d);
    EXPECT_EQ(bench.hid.stats(1).opens, 0u);
    EXPECT_EQ(bench.hid.stats(3).opens, 1u);
    EXPECT_EQ(bench.hid.model(1).flash()[0], sim::kErasedByte);
}

TEST(SimDevice, PowerCycleRunsTheWrittenFirmwaresVersionOnlyAfterAMatchingEndReport) {
    DeviceModel model(sim::Identity{.version = 50});
    model.on_set(command(sim::kCodeStart, 0, 0));
    send_block_chunks(model, 0);  // zeros: no info block yet
    model.power_cycle();
    EXPECT_EQ(read(model)[0], sim::kReportId);
    Report identify = make_report();
    model.on_set(identify);
    EXPECT_EQ(read(model)[4], 50);  // nothing complete was written
}

TEST(SimHid, DroppedWritesNeverReachTheDevice) {
    testing::SimBench bench;
    bench.add({.path = u"sim0", .transport_faults = {.drop_sets = {2}}});
    Device d = open_device(bench.channel, u"sim0");
    Report status = make_report();
    for (std::uint32_t c = 0; c < 3 * 16; c += 16) exchange_feature(d, chunk(c, 0), status, kWaitSkipPolls);
    close_device(d);
    EXPECT_EQ(bench.hid.model(0).counters().chunk_reports, 2u);
    EXPECT_EQ(bench.hid.stats(0).writes, 3u);
}

TEST(SimHid, GarbageRepliesAreNotAnIdentity) {
    testing::SimBench bench;
    bench.add({.path = u"sim0", .model_faults = {.garbage = true}});
    Device d = open_device(bench.channel, u"sim0");
    Report status = make_report();
    exchange_feature(d, identification_report(), status, 0);
    close_device(d);
    EXPECT_FALSE(status[1] == 0x41 && status[2] == 0x42);
}

TEST(Transcript, LinesParseBack) {
    auto set = parse_transcript_line("120 /dev/hidraw0 set 050B10");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->ms, 120u);
    EXPECT_EQ(set->path, "/dev/hidraw0");
    EXPECT_EQ(set->op, "set");
    EXPECT_EQ(set->bytes, (std::vector<std::uint8_t>{0x05, 0x0B, 0x10}));

    auto sleep = parse_transcript_line("140 sleep 20");
    ASSERT_TRUE(sleep);
    EXPECT_EQ(sleep->path, "");
    EXPECT_EQ(sleep->detail, "20");

    auto failed = parse_transcript_line("7 p get failed");
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->failed);
    EXPECT_TRUE(failed->bytes.empty());

    EXPECT_FALSE(parse_transcript_line("x p open"));
    EXPECT_FALSE(parse_transcript_line("1 p set 0G"));
}

TEST(Utf8, RoundTripsAndReplacesBrokenInput) {
    std::u16string text = u"關於 WXR7305 \U0001F600";
    EXPECT_EQ(from_utf8(to_utf8(text)), text);
    EXPECT_EQ(from_utf8("\xE9\x97"), u"\uFFFD\uFFFD");
    EXPECT_EQ(to_utf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace wxr
