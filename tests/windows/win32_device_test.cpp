// The Windows device backend against the system's own HID stack (wine's
// virtual keyboard and mouse when run under wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "device/windows/win32_platform.h"

namespace wxr {
namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

// Wine's bus driver lists its virtual keyboard and mouse only once its device
// process runs again after a restart, which a loaded machine delays by seconds.
constexpr auto kDevicesAppearWithin = std::chrono::seconds(20);

// The interfaces, once there are some (none after the bound).
std::optional<std::vector<DevicePath>> some_interfaces(Win32Hid& hid) {
    const auto until = std::chrono::steady_clock::now() + kDevicesAppearWithin;
    auto paths = hid.enumerate();
    while (paths && paths->empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        paths = hid.enumerate();
    }
    return paths;
}

TEST(FitFeatureReport, CommandReportGoesAtTheInterfaceLength) {
    std::vector<std::uint8_t> command(32, 0);
    command[0] = 5;
    command[1] = 0x0B;
    command[20] = 0xEE;
    auto fitted = fit_feature_report(command, 21);
    ASSERT_TRUE(fitted);
    ASSERT_EQ(fitted->size(), 21u);
    EXPECT_EQ((*fitted)[1], 0x0B);
    EXPECT_EQ((*fitted)[20], 0xEE);
}

TEST(FitFeatureReport, ShortReportIsPaddedAndLostBytesAreRefused) {
    EXPECT_EQ(fit_feature_report(bytes({5, 1, 2}), 6), bytes({5, 1, 2, 0, 0, 0}));
    EXPECT_EQ(fit_feature_report(bytes({5, 1, 0, 0}), 2), bytes({5, 1}));
    // A non-zero byte past the interface's report would be cut off silently.
    EXPECT_FALSE(fit_feature_report(bytes({5, 1, 0, 9}), 2));
}

TEST(Win32Hid, EveryEnumeratedInterfaceOpensAndDescribesItself) {
    Win32Hid hid;
    auto paths = hid.enumerate();
    ASSERT_TRUE(paths) << "the set of HID interfaces could not be had";
    for (const auto& path : *paths) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        HidHandle device = hid.open(path);
        ASSERT_NE(device, kNoHandle);
        HidCapabilities caps;
        EXPECT_TRUE(hid.capabilities(device, caps));
        HidCapabilities again;
        EXPECT_TRUE(hid.capabilities(device, again));
        EXPECT_EQ(caps.feature_report_length, again.feature_report_length);
        HidAttributes attrs;
        EXPECT_TRUE(hid.attributes(device, attrs));
        hid.close(device);
    }
}

TEST(Win32Hid, AHeldPathsHandlesKnowTheLengthItsFirstHandleRead) {
    Win32Hid hid;
    auto paths = hid.enumerate();
    ASSERT_TRUE(paths);
    for (const auto& path : *paths) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        HidCapabilities unheld;
        HidHandle device = hid.open(path);
        ASSERT_TRUE(hid.capabilities(device, unheld));
        hid.close(device);
        hid.hold(path);
        for (int handle = 0; handle < 3; ++handle) {
            device = hid.open(path);
            std::uint16_t length = 0;
            EXPECT_TRUE(hid.feature_report_length(device, length));
            EXPECT_EQ(length, unheld.feature_report_length);
            hid.close(device);
        }
        hid.release(path);
        hid.release(path);  // one release too many is harmless
    }
}

TEST(Win32Hid, MissingPathDoesNotOpen) {
    Win32Hid hid;
    EXPECT_EQ(hid.open(u"\\\\?\\hid#vid_0000&pid_0000#none#{4d1e55b2-f16f-11cf-88cb-001111000030}"),
              kNoHandle);
    EXPECT_EQ(hid.open(u""), kNoHandle);
}

// Every unit tells where it is attached (under wine, which records no
// location, its device's instance id), and two units never the same place.
TEST(Win32Hid, EveryInterfaceHasALocationOfItsOwn) {
    Win32Hid hid;
    auto paths = some_interfaces(hid);
    ASSERT_TRUE(paths && !paths->empty());
    std::set<std::string> places;
    for (const auto& path : *paths) {
        const std::string place = hid.location(path);
        EXPECT_FALSE(place.empty()) << std::string(path.begin(), path.end());
        places.insert(place);
    }
    EXPECT_EQ(places.size(), paths->size());
}

// Two platforms as two programs on one unit (wine's virtual mouse here): a
// claim excludes the other's claim and opens, also from other threads, and
// is given back on whatever thread ends it.
TEST(Win32Hid, AClaimExcludesAnotherProgramUntilItEnds) {
    Win32Hid mine, theirs;
    auto paths = some_interfaces(mine);
    ASSERT_TRUE(paths && !paths->empty());
    const DevicePath& unit = paths->front();
    ASSERT_TRUE(mine.claim(unit));
    EXPECT_FALSE(mine.claim(unit));  // one run per unit in a program too
    HidHandle own = mine.open(unit);
    EXPECT_NE(own, kNoHandle);
    mine.close(own);
    bool refused = false;
    std::thread([&] {
        theirs.enumerate();
        refused = !theirs.claim(unit) && theirs.open(unit) == kNoHandle && theirs.interfaces_in_use() == 1;
    }).join();
    EXPECT_TRUE(refused);
    std::thread([&] { mine.unclaim(unit); }).join();
    EXPECT_TRUE(theirs.claim(unit));
    theirs.unclaim(unit);
}

// Whether another handle on the same name can take the mutex right now.
bool free_for_another_thread(const wchar_t* name) {
    bool taken = false;
    std::thread other([&] {
        HANDLE handle = CreateMutexW(nullptr, FALSE, name);
        if (handle == nullptr) return;
        if (WaitForSingleObject(handle, 0) != WAIT_TIMEOUT) {
            taken = true;
            ReleaseMutex(handle);
        }
        CloseHandle(handle);
    });
    other.join();
    return taken;
}

TEST(Win32NamedMutex, IsSharedByNameWithOtherHandles) {
    Win32NamedMutexFactory factory;
    auto mutex = factory.create(u"wxr7305 test mutex shared");
    ASSERT_TRUE(mutex);
    ASSERT_TRUE(mutex->lock());
    EXPECT_FALSE(free_for_another_thread(L"wxr7305 test mutex shared"));
    mutex->unlock();
    EXPECT_TRUE(free_for_another_thread(L"wxr7305 test mutex shared"));
}

TEST(Win32NamedMutex, OwnerThatEndsWithoutUnlockingDoesNotBlockTheNext) {
    Win32NamedMutexFactory factory;
    auto first = factory.create(u"wxr7305 test mutex abandoned");
    auto second = factory.create(u"wxr7305 test mutex abandoned");
    ASSERT_TRUE(first && second);
    std::thread owner([&] { EXPECT_TRUE(first->lock()); });
    owner.join();
    EXPECT_TRUE(second->lock());
    second->unlock();
}

TEST(Win32NamedMutex, NameThatTheSystemRefusesGivesNoMutex) {
    Win32NamedMutexFactory factory;
    // A name in use by another kind of object cannot be opened as a mutex.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"wxr7305 test event");
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(factory.create(u"wxr7305 test event"));
    CloseHandle(event);
}

}  // namespace
}  // namespace wxr
