#include <gtest/gtest.h>

#include "device/forwarding_hid.h"
#include "device/report.h"
#include "tests/device/sim_fixture.h"

namespace wxr {
namespace {

using testing::ops;
using testing::SimBench;
using Ops = std::vector<std::string>;

// Opens the simulated interface, runs one exchange and returns its transcript
// (without the open and close) and the status buffer.
struct Exchange {
    Ops ops;
    Report status;
    std::uint64_t elapsed_ms;
};

Exchange run_exchange(SimBench& bench, const Report& command, std::int32_t wait,
                      Report status = make_report()) {
    Device device = open_device(bench.channel, u"sim0");
    EXPECT_TRUE(device);
    bench.transcript.clear();
    std::uint64_t start = bench.clock.now_ms();
    exchange_feature(device, command, status, wait);
    Exchange out{ops(bench.transcript), status, bench.clock.now_ms() - start};
    close_device(device);
    return out;
}

Ops repeat(const Ops& part, int times) {
    Ops out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Ops concat(std::initializer_list<Ops> parts) {
    Ops out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(ExchangeFeature, WaitValuesShapeThePolls) {
    SimBench bench;
    bench.add();
    const Report id = identification_report();

    EXPECT_EQ(run_exchange(bench, id, kWaitSkipPolls).ops, (Ops{"set"}));
    EXPECT_EQ(run_exchange(bench, id, -1).ops, (Ops{"get", "set"}));
    EXPECT_EQ(run_exchange(bench, id, 0).ops, (Ops{"get", "set", "get"}));
    EXPECT_EQ(run_exchange(bench, id, 20).ops, (Ops{"get", "set", "sleep 20", "get"}));

    Exchange identify = run_exchange(bench, id, 50);
    EXPECT_EQ(identify.ops, (Ops{"get", "set", "sleep 50", "get"}));
    EXPECT_EQ(identify.elapsed_ms, 50u);
    EXPECT_EQ(identify.status[1], 0x41);
    EXPECT_EQ(identify.status[2], 0x42);
    EXPECT_EQ(identify.status[5], 16);
}

TEST(ExchangeFeature, BusyDeviceIsPolledWithPauses) {
    SimBench bench;
    bench.add({.path = u"sim0", .model_faults = {.busy_reads = 2}});
    Exchange e = run_exchange(bench, identification_report(), -1);
    EXPECT_EQ(e.ops, (Ops{"get busy", "sleep 20", "get busy", "sleep 20", "get", "set"}));
    EXPECT_EQ(e.elapsed_ms, 40u);

    // Busy twice after every command: the pre-poll waits out the last one.
    const Ops busy_twice = {"get busy", "sleep 20", "get busy", "sleep 20", "get"};
    Exchange reply = run_exchange(bench, identification_report(), 0);
    EXPECT_EQ(reply.ops, concat({busy_twice, {"set"}, busy_twice}));
    EXPECT_EQ(reply.status[1], 0x41);
}

TEST(ExchangeFeature, DeviceThatNeverClearsBusyIsWrittenAnyway) {
    SimBench bench;
    bench.add({.path = u"sim0", .model_faults = {.stay_busy = true}});
    Exchange e = run_exchange(bench, identification_report(), 50);
    const Ops poll = repeat({"get busy", "sleep 20"}, 5);
    EXPECT_EQ(e.ops, concat({poll, {"set", "sleep 50"}, poll}));
    EXPECT_EQ(e.elapsed_ms, 250u);  // n + 200 at most
    EXPECT_TRUE(is_busy(e.status));
}

TEST(ExchangeFeature, FailedReadsLeaveTheStatusBufferAsItWas) {
    SimBench bench;
    bench.add({.path = u"sim0", .transport_faults = {.silent = true}});

    // A fresh buffer counts as idle: one failed read per poll.
    Exchange fresh = run_exchange(bench, identification_report(), 20);
    EXPECT_EQ(fresh.ops, (Ops{"get failed", "set failed", "sleep 20", "get failed"}));
    EXPECT_EQ(fresh.status, make_report());

    // A buffer that already says busy keeps saying so: five reads, five pauses.
    Report busy = make_report();
    busy[1] = 0x80;
    Exchange stale = run_exchange(bench, identification_report(), -1, busy);
    EXPECT_EQ(stale.ops, concat({repeat({"get failed", "sleep 20"}, 5), {"set failed"}}));
    EXPECT_EQ(stale.status, busy);
}

TEST(ExchangeFeature, OnlyTheFirst21BytesOfTheStatusBufferAreRead) {
    SimBench bench;
    bench.add();
    Report status = make_report();
    for (std::size_t i = kStatusReportLength; i < status.size(); ++i) status[i] = 0xAA;
    Exchange e = run_exchange(bench, identification_report(), 0, status);
    for (std::size_t i = kStatusReportLength; i < status.size(); ++i) EXPECT_EQ(e.status[i], 0xAA);
    EXPECT_EQ(e.status[0], kReportId);
}

TEST(ReportLayout, OneShotValuesAreLittleEndianFromByteOne) {
    Report ten = make_report();
    ten[1] = 0x0A;
    EXPECT_EQ(one_shot_report(10), ten);

    Report unlock = make_report();
    unlock[3] = 0x12;
    unlock[4] = 0x12;
    EXPECT_EQ(one_shot_report(0x12120000), unlock);

    Report all = one_shot_report(0xA1B2C3D4);
    EXPECT_EQ(all[1], 0xD4);
    EXPECT_EQ(all[4], 0xA1);
    EXPECT_EQ(all[5], 0);
}

TEST(ReportLayout, WritesAreLoggedAsSentAndFramedByOpenAndClose) {
    SimBench bench;
    bench.add();
    Device device = open_device(bench.channel, u"sim0");
    Report status = make_report();
    exchange_feature(device, one_shot_report(10), status, kWaitSkipPolls);
    close_device(device);
    EXPECT_FALSE(device);
    auto lines = bench.transcript.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0 sim0 open");
    // The 32-byte report goes out at the interface's 21 bytes.
    EXPECT_EQ(lines[1], "0 sim0 set 050A" + std::string(38, '0'));
    EXPECT_EQ(lines[2], "0 sim0 close");
}

// Records the length of every write that reaches the platform.
struct WriteRecorder : ForwardingHid {
    using ForwardingHid::ForwardingHid;
    bool set_feature(HidHandle h, std::span<const std::uint8_t> r) override {
        lengths.push_back(r.size());
        return ForwardingHid::set_feature(h, r);
    }
    std::vector<std::size_t> lengths;
};

TEST(ReportLayout, WritesGoOutAtTheInterfacesFeatureReportLength) {
    struct Case {
        std::uint16_t interface_length;
        std::uint8_t last_byte;  // byte 31 of the command report
        std::vector<std::size_t> reached;  // lengths of the writes the platform got
        std::size_t shown;                 // bytes on the transcript's set line
    };
    const Case cases[] = {
        {21, 0, {21}, 21},
        {40, 0, {40}, 40},  // padded with zeros
        {0, 0, {32}, 32},   // no known length: as it is, for the backend to judge
        {21, 0x77, {}, 32},  // cutting would lose a byte: nothing goes out
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interface_length);
        SimBench bench;
        bench.add({.feature_report_length = c.interface_length});
        WriteRecorder recorder(bench.hid);
        DeviceChannel channel(recorder, bench.clock, &bench.transcript);
        Device device = open_device(channel, u"sim0");
        Report command = one_shot_report(10);
        command[31] = c.last_byte;
        EXPECT_EQ(write_report(device, command), !c.reached.empty());
        close_device(device);
        EXPECT_EQ(recorder.lengths, c.reached);
        const auto line = parse_transcript_line(bench.transcript.lines().at(1));
        ASSERT_TRUE(line);
        EXPECT_EQ(line->failed, c.reached.empty());
        EXPECT_EQ(line->bytes.size(), c.shown);
    }
}

}  // namespace
}  // namespace wxr
