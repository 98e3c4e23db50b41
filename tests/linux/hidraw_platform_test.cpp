#include "device/linux/hidraw_platform.h"

#include <gtest/gtest.h>

#include "device/channel.h"
#include "device/report.h"
#include "device/sim/virtual_clock.h"
#include "tests/linux/fake_hidraw_io.h"
#include "tools/vm/uhid_descriptors.h"

namespace wxr::hidraw {
namespace {

using testing::FakeHidrawIo;
using Bytes = std::vector<std::uint8_t>;

const std::string kNode = "/dev/hidraw0";

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

Bytes status_reply(std::uint8_t id = 5, std::size_t length = 21) {
    Bytes reply(length, 0);
    reply[0] = id;
    reply[1] = 0x41;
    reply[2] = 0x42;
    return reply;
}

class HidrawPlatformTest : public ::testing::Test {
protected:
    HidrawPlatformTest() {
        auto io = std::make_unique<FakeHidrawIo>();
        fake = io.get();
        platform = std::make_unique<HidrawPlatform>(std::move(io));
        fake->node(kNode).descriptor = bytes(vm::kUpgradableDescriptor);
        fake->node(kNode).reply = status_reply();
    }

    HidHandle open(const std::string& path = kNode) { return platform->open(from_utf8(path)); }

    FakeHidrawIo* fake = nullptr;
    std::unique_ptr<HidrawPlatform> platform;
};

TEST_F(HidrawPlatformTest, EnumeratesNodesInKernelOrder) {
    fake->listing = {"hidraw10", "hidraw2", "hidraw0", "hidraw", "hidrawX", "..", "hidraw1"};
    auto paths = platform->enumerate();
    ASSERT_TRUE(paths);
    std::vector<DevicePath> expected = {u"/dev/hidraw0", u"/dev/hidraw1", u"/dev/hidraw2",
                                        u"/dev/hidraw10"};
    EXPECT_EQ(*paths, expected);

    fake->list_error = EIO;
    EXPECT_FALSE(platform->enumerate());
}

TEST_F(HidrawPlatformTest, CapabilitiesAreTheReportFiveCollectionsLength) {
    const std::pair<Bytes, std::uint16_t> cases[] = {
        {bytes(vm::kUpgradableDescriptor), 21},
        {bytes(vm::kOtherLengthDescriptor), 22},
        {Bytes{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0}, 0},  // no report 5 at all
    };
    for (const auto& [descriptor, length] : cases) {
        fake->node(kNode).descriptor = descriptor;
        HidHandle h = open();
        HidCapabilities caps;
        EXPECT_TRUE(platform->capabilities(h, caps));
        EXPECT_EQ(caps.feature_report_length, length);
        platform->close(h);
    }
    fake->node(kNode).descriptor = {0xA1, 0x01};  // unbalanced
    HidHandle h = open();
    HidCapabilities caps;
    EXPECT_FALSE(platform->capabilities(h, caps));
    platform->close(h);
}

TEST_F(HidrawPlatformTest, TheChannelFitsWritesAndTheBackendOnlyChecksThem) {
    // The channel cuts the 32-byte command report to the node's 21 bytes; the
    // backend sends what it is given, and refuses any other length, uncut.
    VirtualClock clock;
    DeviceChannel channel(*platform, clock);
    Device device = channel.open(from_utf8(kNode));
    Report command = one_shot_report(0x12120000);
    EXPECT_TRUE(channel.set_feature(device, command));
    EXPECT_FALSE(platform->set_feature(device.handle, command));
    EXPECT_FALSE(platform->set_feature(device.handle, std::span(command).first(20)));
    channel.close(device);
    ASSERT_EQ(fake->node(kNode).sets.size(), 1u);
    EXPECT_EQ(fake->node(kNode).sets[0], Bytes(command.begin(), command.begin() + 21));
}

TEST_F(HidrawPlatformTest, NothingIsWrittenWithoutAMatchingFeatureReport) {
    // No collection declares the report, the descriptor is unreadable, or
    // the report is shorter than the device's: the write never happens.
    const Bytes descriptors[] = {
        {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0},
        {0xC0},
        bytes(vm::kOtherLengthDescriptor),
    };
    for (const auto& descriptor : descriptors) {
        fake->node(kNode).descriptor = descriptor;
        HidHandle h = open();
        Report command = make_report();
        EXPECT_FALSE(platform->set_feature(h, std::span(command).first(21)));
        platform->close(h);
    }
    HidHandle h = open();
    Report command = make_report();
    command[0] = 6;
    EXPECT_FALSE(platform->set_feature(h, command));
    platform->close(h);
    EXPECT_TRUE(fake->node(kNode).sets.empty());
}

TEST_F(HidrawPlatformTest, GetNeedsTheFullLengthAndTheRightId) {
    HidHandle h = open();
    Report status = make_report();
    ASSERT_TRUE(platform->get_feature(h, std::span(status).first(21)));
    EXPECT_EQ(status[1], 0x41);

    // A short answer or one for another report leaves the caller's buffer alone.
    for (const Bytes& reply : {status_reply(5, 20), status_reply(4)}) {
        fake->node(kNode).reply = reply;
        Report fresh = make_report();
        EXPECT_FALSE(platform->get_feature(h, std::span(fresh).first(21)));
        EXPECT_EQ(fresh, make_report());
    }
    platform->close(h);
}

TEST_F(HidrawPlatformTest, InterruptionsAreRetriedABoundedNumberOfTimes) {
    HidHandle h = open();
    Report status = make_report();
    fake->interruptions = 3;
    EXPECT_TRUE(platform->get_feature(h, std::span(status).first(21)));
    EXPECT_EQ(fake->node(kNode).gets, 1);

    fake->interruptions = 1000;
    int before = fake->calls;
    EXPECT_FALSE(platform->set_feature(h, std::span(status).first(21)));
    EXPECT_EQ(fake->calls - before, 17);  // the first try and 16 retries
    EXPECT_TRUE(fake->node(kNode).sets.empty());
    fake->interruptions = 0;
    platform->close(h);
}

TEST_F(HidrawPlatformTest, OtherErrorsFailTheOperationAtOnce) {
    HidHandle h = open();
    for (int error : {EPIPE, ETIMEDOUT, EIO, ENODEV}) {
        fake->node(kNode).io_error = error;
        Report status = make_report();
        EXPECT_FALSE(platform->get_feature(h, std::span(status).first(21)));
        EXPECT_FALSE(platform->set_feature(h, std::span(status).first(21)));
    }
    EXPECT_EQ(fake->node(kNode).gets, 4);
    platform->close(h);
}

TEST_F(HidrawPlatformTest, NoDescriptorOutlivesItsHandle) {
    for (int i = 0; i < 3; ++i) {
        HidHandle h = open();
        ASSERT_NE(h, kNoHandle);
        HidCapabilities caps;
        platform->capabilities(h, caps);
        platform->set_feature(h, make_report());
        EXPECT_EQ(fake->open_descriptors(), 1u);
        platform->close(h);
        EXPECT_EQ(fake->open_descriptors(), 0u);
    }
    for (int flags : fake->open_flags) {
        EXPECT_EQ(flags & O_CLOEXEC, O_CLOEXEC);
        EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    }
    // A closed handle is dead; closing it twice is harmless.
    HidHandle h = open();
    platform->close(h);
    platform->close(h);
    EXPECT_FALSE(platform->set_feature(h, make_report()));
    HidAttributes attrs;
    EXPECT_FALSE(platform->attributes(h, attrs));
}

TEST_F(HidrawPlatformTest, DescriptorIsReadAnewOnEachOpen) {
    // The node number may be reused by another device between two opens.
    HidHandle h = open();
    HidCapabilities caps;
    platform->capabilities(h, caps);
    platform->close(h);
    fake->node(kNode).descriptor = bytes(vm::kOtherLengthDescriptor);
    h = open();
    platform->capabilities(h, caps);
    EXPECT_EQ(caps.feature_report_length, 22);
    platform->close(h);
}

TEST_F(HidrawPlatformTest, PermissionRefusalsAreCountedPerPass) {
    for (const char* path : {"/dev/hidraw1", "/dev/hidraw2", "/dev/hidraw3"}) {
        fake->node(path).open_errors = {{O_RDWR, EACCES}, {O_RDONLY, EACCES}, {O_WRONLY, EPERM}};
    }
    fake->node("/dev/hidraw3").open_errors.erase(O_RDONLY);  // readable: opened read-only
    fake->listing = {"hidraw0", "hidraw1", "hidraw2", "hidraw3"};
    ASSERT_TRUE(platform->enumerate());
    EXPECT_EQ(open("/dev/hidraw1"), kNoHandle);
    EXPECT_EQ(open("/dev/hidraw1"), kNoHandle);  // the same interface counts once
    EXPECT_EQ(open("/dev/hidraw2"), kNoHandle);
    EXPECT_EQ(open("/dev/hidraw9"), kNoHandle);  // absent: not a permission matter
    HidHandle readable = open("/dev/hidraw3");
    EXPECT_NE(readable, kNoHandle);
    platform->close(readable);
    EXPECT_EQ(platform->permission_denied_count(), 2u);

    platform->enumerate();
    EXPECT_EQ(platform->permission_denied_count(), 0u);
}

}  // namespace
}  // namespace wxr::hidraw
