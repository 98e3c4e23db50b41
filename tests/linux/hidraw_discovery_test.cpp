// Discovery over the hidraw backend: what the probe decides from the lengths
// the backend computes, with the flock mutex guarding the list.
#include <gtest/gtest.h>
#include <sys/file.h>

#include "device/discovery.h"
#include "device/linux/flock_mutex.h"
#include "device/linux/hidraw_platform.h"
#include "device/local_mutex.h"
#include "device/sim/virtual_clock.h"
#include "tests/linux/fake_hidraw_io.h"
#include "tests/linux/temp_dir.h"
#include "tools/vm/uhid_descriptors.h"

namespace wxr::hidraw {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kModel = 16;

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

// Identification reply of a device of model kModel: A, B, version, model, sensor.
Bytes identity_reply() {
    Bytes reply(21, 0);
    reply[0] = 5;
    reply[1] = 0x41;
    reply[2] = 0x42;
    reply[4] = 57;
    reply[5] = kModel;
    reply[6] = 3;
    return reply;
}

class HidrawDiscoveryTest : public ::testing::Test {
protected:
    void add_node(const std::string& name, Bytes descriptor) {
        auto& node = fake->node("/dev/" + name);
        node.descriptor = std::move(descriptor);
        node.reply = identity_reply();
        fake->listing.push_back(name);
    }

    std::int32_t discover() {
        DeviceContext context{channel, mutexes, shift, expected_model, list};
        return discover_devices(context);
    }

    std::unique_ptr<testing::FakeHidrawIo> owned_io = std::make_unique<testing::FakeHidrawIo>();
    testing::FakeHidrawIo* fake = owned_io.get();
    HidrawPlatform platform{std::move(owned_io)};
    VirtualClock clock;
    DeviceChannel channel{platform, clock};
    testing::TempDir lock_dir;
    FlockMutexFactory mutexes{{lock_dir.path().string()}};
    FedShiftKeyState shift;
    ExpectedModel expected_model{kModel};
    DeviceList list;
};

TEST_F(HidrawDiscoveryTest, OnlyTheTwentyOneByteInterfaceIsTouched) {
    add_node("hidraw0", bytes(vm::kMouseAndVendorDescriptor<19>));  // 20 bytes
    add_node("hidraw1", bytes(vm::kUpgradableDescriptor));           // 21 bytes
    add_node("hidraw2", bytes(vm::kOtherLengthDescriptor));          // 22 bytes
    add_node("hidraw3", Bytes{0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0});  // no report 5

    ASSERT_EQ(discover(), 1);
    EXPECT_EQ(list.paths[0], u"/dev/hidraw1");
    EXPECT_EQ(fake->node("/dev/hidraw1").sets.size(), 1u);
    EXPECT_EQ(fake->node("/dev/hidraw1").sets[0].size(), 21u);
    for (const char* other : {"/dev/hidraw0", "/dev/hidraw2", "/dev/hidraw3"}) {
        EXPECT_TRUE(fake->node(other).sets.empty()) << other;
        EXPECT_EQ(fake->node(other).gets, 0) << other;
    }
    EXPECT_EQ(fake->open_descriptors(), 0u);
}

TEST_F(HidrawDiscoveryTest, RefusedNodesAreCountedForTheUser) {
    add_node("hidraw0", bytes(vm::kUpgradableDescriptor));
    add_node("hidraw1", bytes(vm::kUpgradableDescriptor));
    for (const char* path : {"/dev/hidraw0", "/dev/hidraw1"}) {
        fake->node(path).open_errors = {{O_RDWR, EACCES}, {O_RDONLY, EACCES}, {O_WRONLY, EACCES}};
    }
    EXPECT_EQ(discover(), 0);
    EXPECT_EQ(platform.inaccessible_interfaces(), 2u);

    fake->node("/dev/hidraw1").open_errors.clear();
    EXPECT_EQ(discover(), 1);
    EXPECT_EQ(platform.inaccessible_interfaces(), 1u);
}

TEST_F(HidrawDiscoveryTest, ALockHeldElsewhereDelaysButNeverStopsDiscovery) {
    add_node("hidraw0", bytes(vm::kUpgradableDescriptor));
    FlockMutexFactory impatient({lock_dir.path().string()}, std::chrono::milliseconds(50));
    const auto file = lock_dir.path() / FlockMutexFactory::lock_file_name(kDeviceListMutexName);
    int holder = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    DeviceContext context{channel, impatient, shift, expected_model, list};
    EXPECT_EQ(discover_devices(context), 1);
    ::close(holder);
}

}  // namespace
}  // namespace wxr::hidraw
