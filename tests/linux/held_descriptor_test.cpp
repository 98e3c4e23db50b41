// The hidraw backend keeps a held path's descriptor open across a run's opens
// and closes: one open() of the node per run, however many reports; a failed
// operation or another unit at the path means a fresh open; the report length
// is read once per descriptor; and runs side by side hold their own.
#include <gtest/gtest.h>

#include <thread>

#include "device/channel.h"
#include "device/device_hold.h"
#include "device/linux/hidraw_platform.h"
#include "device/report.h"
#include "device/sim/virtual_clock.h"
#include "tests/linux/fake_hidraw_io.h"
#include "tools/vm/uhid_descriptors.h"

namespace wxr::hidraw {
namespace {

using testing::FakeHidrawIo;
using testing::FakeNode;

constexpr int kReports = 40;

class HidrawHeldDescriptorTest : public ::testing::Test {
protected:
    HidrawHeldDescriptorTest() {
        for (const char* path : {"/dev/hidraw0", "/dev/hidraw1"}) add(path);
    }

    void add(const std::string& path) {
        FakeNode& node = fake->node(path);
        node.descriptor.assign(vm::kUpgradableDescriptor.begin(), vm::kUpgradableDescriptor.end());
        node.reply.assign(21, 0);
        node.reply[0] = 5;
    }

    // One report as the engine sends it: open, write, read, close. The
    // transcript still shows every open and close.
    bool report(const std::string& path) {
        Device device = channel.open(from_utf8(path));
        Report status = make_report();
        bool ok = device && write_report(device, make_report()) && read_status(device, status);
        channel.close(device);
        return ok;
    }

    int reports(const std::string& path, int count) {
        int ok = 0;
        for (int i = 0; i < count; ++i) ok += report(path);
        return ok;
    }

    FakeNode& node(const std::string& path = "/dev/hidraw0") { return fake->node(path); }

    std::unique_ptr<FakeHidrawIo> owned = std::make_unique<FakeHidrawIo>();
    FakeHidrawIo* fake = owned.get();
    HidrawPlatform platform{std::move(owned)};
    VirtualClock clock;
    Transcript transcript;
    DeviceChannel channel{platform, clock, &transcript};
};

TEST_F(HidrawHeldDescriptorTest, OneOpenPerRunHoweverManyReports) {
    {
        DeviceHold hold(channel, u"/dev/hidraw0");
        EXPECT_EQ(reports("/dev/hidraw0", kReports), kReports);
        EXPECT_EQ(fake->open_descriptors(), 1u);  // kept between reports
    }
    EXPECT_EQ(fake->open_descriptors(), 0u);  // the end of the run closes it
    EXPECT_EQ(node().opens, 1);
    EXPECT_EQ(node().descriptor_reads, 1);
    EXPECT_EQ(node().sets.size(), std::size_t{kReports});
    EXPECT_EQ(node().gets, kReports);
    std::size_t opens = 0, closes = 0;
    for (const auto& line : transcript.lines()) {
        opens += line.find(" open") != std::string::npos;
        closes += line.find(" close") != std::string::npos;
    }
    EXPECT_EQ(opens, std::size_t{kReports});
    EXPECT_EQ(closes, std::size_t{kReports});

    // Without a hold, every report opens the node as before.
    EXPECT_EQ(reports("/dev/hidraw0", 3), 3);
    EXPECT_EQ(node().opens, 4);
    EXPECT_EQ(fake->open_descriptors(), 0u);
}

TEST_F(HidrawHeldDescriptorTest, AFailureOrAnotherUnitMeansAFreshOpen) {
    struct Case {
        const char* name;
        void (*spoil)(FakeHidrawIo&);   // before the second report
        bool second_report_ok;
        int opens;            // of the node at the path now, over four reports
        int descriptor_reads;
    };
    const Case cases[] = {
        {"healthy", [](FakeHidrawIo&) {}, true, 1, 1},
        {"failed read", [](FakeHidrawIo& io) { io.node("/dev/hidraw0").reply[0] = 4; }, false, 2, 2},
        {"failed write", [](FakeHidrawIo& io) { io.node("/dev/hidraw0").io_error = EPIPE; }, false, 2, 2},
        // The old descriptor fails, as the kernel's does: the new unit is opened afresh.
        {"replaced", [](FakeHidrawIo& io) { io.replace("/dev/hidraw0"); }, false, 1, 1},
        {"unplugged and back", [](FakeHidrawIo& io) {
             io.nodes.erase("/dev/hidraw0");
         }, false, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake->nodes.clear();
        add("/dev/hidraw0");
        DeviceHold hold(channel, u"/dev/hidraw0");
        EXPECT_TRUE(report("/dev/hidraw0"));
        c.spoil(*fake);
        EXPECT_EQ(report("/dev/hidraw0"), c.second_report_ok);
        if (!fake->nodes.contains("/dev/hidraw0")) add("/dev/hidraw0");
        node().reply[0] = 5;
        node().io_error = 0;
        const std::size_t sets_before = node().sets.size();
        EXPECT_EQ(reports("/dev/hidraw0", 2), 2);
        EXPECT_EQ(node().sets.size(), sets_before + 2);
        EXPECT_EQ(node().opens, c.opens);
        EXPECT_EQ(node().descriptor_reads, c.descriptor_reads);
        EXPECT_EQ(fake->open_descriptors(), 1u);
    }
}

TEST_F(HidrawHeldDescriptorTest, OnlyOneHandleAtATimeUsesTheHeldDescriptor) {
    platform.hold(u"/dev/hidraw0");
    Device first = channel.open(u"/dev/hidraw0");
    Device second = channel.open(u"/dev/hidraw0");  // its own descriptor, closed with it
    EXPECT_EQ(fake->open_descriptors(), 2u);
    channel.close(second);
    EXPECT_EQ(fake->open_descriptors(), 1u);
    // The run ends while a handle is open: that handle's close closes it.
    platform.release(u"/dev/hidraw0");
    EXPECT_EQ(fake->open_descriptors(), 1u);
    channel.close(first);
    EXPECT_EQ(fake->open_descriptors(), 0u);
    EXPECT_TRUE(report("/dev/hidraw0"));
    EXPECT_EQ(node().opens, 3);
    EXPECT_EQ(fake->open_descriptors(), 0u);
}

TEST_F(HidrawHeldDescriptorTest, RunsSideBySideEachHoldTheirOwn) {
    int ok[2] = {0, 0};
    std::thread runs[2];
    for (int unit = 0; unit < 2; ++unit) {
        runs[unit] = std::thread([&, unit] {
            const std::string path = "/dev/hidraw" + std::to_string(unit);
            DeviceHold hold(channel, from_utf8(path));
            ok[unit] = reports(path, kReports);
        });
    }
    for (auto& run : runs) run.join();
    for (int unit = 0; unit < 2; ++unit) {
        FakeNode& n = node("/dev/hidraw" + std::to_string(unit));
        EXPECT_EQ(ok[unit], kReports);
        EXPECT_EQ(n.opens, 1);
        EXPECT_EQ(n.sets.size(), std::size_t{kReports});
    }
    EXPECT_EQ(fake->open_descriptors(), 0u);
}

}  // namespace
}  // namespace wxr::hidraw
