#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <set>
#include <stdexcept>

#include "device/forwarding_hid.h"
#include "tests/upgrade/engine_fixture.h"
#include "upgrade/device_query.h"

namespace wxr {
namespace {

using testing::EngineBench;
using testing::ops;

std::u16string path_of(char c, std::size_t n) { return std::u16string(n, char16_t(c)); }

TEST(Discovery, NothingPresentOrNoEnumerationGivesZero) {
    EngineBench bench;
    EXPECT_EQ(bench.discover(), 0);
    bench.add();
    bench.hid.fail_enumeration(true);
    EXPECT_EQ(bench.discover(), 0);
    EXPECT_EQ(bench.hid.stats(0).opens, 0u);
}

TEST(Discovery, OtherReportLengthsAreNeverWrittenTo) {
    EngineBench bench;
    bench.add({.path = u"short", .feature_report_length = 20});
    bench.add({.path = u"long", .feature_report_length = 22});
    EXPECT_EQ(bench.discover(), 0);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(bench.hid.stats(i).writes, 0u);
        EXPECT_EQ(bench.hid.stats(i).reads, 0u);
        EXPECT_EQ(bench.hid.stats(i).open_handles, 0u);
    }
}

TEST(Discovery, ProbeOpensIdentifiesAndCloses) {
    EngineBench bench;
    bench.add();
    EXPECT_EQ(bench.discover(), 1);
    EXPECT_EQ(ops(bench.transcript), (std::vector<std::string>{"enumerate", "open", "caps", "attributes", "get",
                                                                "set", "sleep 50", "get", "close"}));
    EXPECT_EQ(bench.list.paths[0], u"sim0");
}

TEST(Discovery, ModelMustMatchUnlessShiftWasPressed) {
    EngineBench bench;
    bench.add({.identity = {.model = 9}});
    EXPECT_EQ(bench.discover(), 0);
    EXPECT_EQ(bench.shift.queries.load(), 1);
    bench.shift.on = true;
    EXPECT_EQ(bench.discover(), 1);
}

TEST(Discovery, WrongOrBusyRepliesAreNotListedWhateverShiftSays) {
    EngineBench bench;
    bench.shift.on = true;
    bench.add({.model_faults = {.garbage = true}});
    bench.add({.model_faults = {.stay_busy = true}});
    bench.add({.transport_faults = {.silent = true}});
    EXPECT_EQ(bench.discover(), 0);
    // Shift is asked only once A and B have matched.
    EXPECT_EQ(bench.shift.queries.load(), 0);
}

TEST(Discovery, SeveralDevicesAndASecondPassAfterUnplugging) {
    EngineBench bench;
    bench.add();
    bench.add();
    EXPECT_EQ(bench.discover(), 2);
    std::set<std::u16string> listed{bench.list.paths[0], bench.list.paths[1]};
    EXPECT_EQ(listed, (std::set<std::u16string>{u"sim0", u"sim1"}));

    std::u16string first = bench.list.paths[0];
    bench.hid.unplug(0);
    bench.hid.unplug(1);
    EXPECT_EQ(bench.discover(), 0);
    EXPECT_EQ(bench.list.paths[0], first);  // stale text, but the count says nothing is there
    bench.transcript.clear();
    DeviceContext context = bench.context();
    send_device_command(context, 10);
    ImageInfo info;
    query_device_info(context, info);
    EXPECT_EQ(bench.transcript.size(), 0u);
}

TEST(Discovery, ListHoldsTwentyAndEveryInterfaceIsProbed) {
    EngineBench bench;
    for (int i = 0; i < 250; ++i) bench.add();
    EXPECT_EQ(bench.discover(), 20);
    // Beyond the first 200, a second wave probes the rest.
    for (std::size_t i = 0; i < 250; ++i) EXPECT_EQ(bench.hid.stats(i).writes, 1u) << i;
}

// Makes every enumerated path longer than the probe keeps.
class LongPaths final : public ForwardingHid {
public:
    using ForwardingHid::ForwardingHid;
    std::optional<std::vector<DevicePath>> enumerate() override {
        auto paths = inner_.enumerate();
        for (auto& p : *paths) p += path_of('z', 300);
        return paths;
    }
};

TEST(Discovery, ProbeOpensTheFirst1024CharactersOfAPath) {
    EngineBench bench;
    bench.add({.path = path_of('p', 1024)});
    LongPaths long_paths(bench.hid);
    DeviceChannel channel(long_paths, bench.clock);
    DeviceContext context{channel, bench.mutexes, bench.shift, bench.expected_model, bench.list};
    EXPECT_EQ(discover_devices(context), 1);
    EXPECT_EQ(bench.list.paths[0].size(), 1024u);
}

TEST(Discovery, NamedMutexThatCannotBeCreatedStillLists) {
    struct Refusing final : NamedMutexFactory {
        std::unique_ptr<NamedMutex> create(const std::u16string&) override { return nullptr; }
    } refusing;
    EngineBench bench;
    bench.add();
    DeviceContext context{bench.channel, refusing, bench.shift, bench.expected_model, bench.list};
    EXPECT_EQ(discover_devices(context), 1);
}

TEST(SendDeviceCommand, PrePollsWritesAndReadsNothingAfter) {
    EngineBench bench;
    bench.add();
    DeviceContext context = bench.context();
    send_device_command(context, 10);
    EXPECT_TRUE(bench.transcript.lines().empty());  // nothing listed yet

    ASSERT_EQ(bench.discover(), 1);
    bench.transcript.clear();
    send_device_command(context, 10);
    EXPECT_EQ(ops(bench.transcript), (std::vector<std::string>{"open", "get", "set", "close"}));
    auto writes = bench.writes_of(0x0A);
    ASSERT_EQ(writes.size(), 1u);
    std::vector<std::uint8_t> expected(21, 0);  // at the interface's feature-report length
    expected[0] = 5;
    expected[1] = 0x0A;
    EXPECT_EQ(writes[0], expected);
}

TEST(QueryDeviceInfo, FillsVersionModelSensorAndNames) {
    EngineBench bench;
    bench.add({.identity = {.version = 0x39, .model = 0x10, .sensor = 0x03}});
    ASSERT_EQ(bench.discover(), 1);
    ImageInfo info;
    info.size = 77;
    info.customer = u"kept";
    DeviceContext context = bench.context();
    query_device_info(context, info);
    EXPECT_EQ(info.version, 57);
    EXPECT_EQ(info.model, 16);
    EXPECT_EQ(info.model_name, u"TQ16");
    EXPECT_EQ(info.sensor, 3);
    EXPECT_EQ(info.sensor_name, u"LX300");
    EXPECT_EQ(info.size, 77);
    EXPECT_EQ(info.customer, u"kept");
}

TEST(QueryDeviceInfo, NoDeviceGivesZerosAndTheFirstModelName) {
    EngineBench bench;
    ImageInfo info;
    info.model_name = u"old";
    info.sensor_name = u"old";
    DeviceContext context = bench.context();
    query_device_info(context, info);
    EXPECT_EQ(info.version, 0);
    EXPECT_EQ(info.model, 0);
    EXPECT_EQ(info.model_name, u"TQ00");
    EXPECT_EQ(info.sensor, 0);
    EXPECT_EQ(info.sensor_name, u"");
}

}  // namespace
}  // namespace wxr

namespace wxr {
namespace {

// One helper runs every probe thread: a probe that throws (a bad_alloc, say)
// ends that probe alone; every thread is joined, none left to terminate the process.
TEST(RunSideBySide, AThrowingBodyEndsOnlyItsOwnIndex) {
    std::vector<std::atomic<int>> ran(kMaxProbesPerWave + 5);
    VirtualClock clock;
    run_side_by_side(clock, ran.size(), [&](std::size_t i) {
        ++ran[i];
        if (i % 3 == 0) throw std::bad_alloc();
        if (i % 3 == 1) throw std::runtime_error("lost");
    });
    for (const auto& count : ran) EXPECT_EQ(count.load(), 1);
}

}  // namespace
}  // namespace wxr
