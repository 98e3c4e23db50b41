#include "device/linux/hidraw_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"
#include "tests/linux/fake_hidraw_io.h"
#include "tests/linux/temp_dir.h"

namespace wxr::hidraw {
namespace {

const DevicePath kNode = u"/dev/hidraw3";
// A serial number carrying a line of its own after the kernel's HID_PHYS.
const std::string kForgingUevent = "HID_NAME=ZQ\nHID_PHYS=usb-2/input0\nHID_UNIQ=A1\nHID_PHYS=hubA\nMODALIAS=hid:b3\n";

TEST(HidrawLocation, TheOpenNodeTellsElseTheFirstOfEachUeventKey) {
    using Texts = std::map<RawText, std::string>;
    const Texts both = {{RawText::Phys, "usb-1/input0"}, {RawText::Uniq, "A\nHID_PHYS=hubA"}};
    const Texts phys = {{RawText::Phys, "usb-1/input0"}};
    struct Case {
        Texts node;  // what the open node tells
        bool opens;
        std::string uevent, location, serial;
    } const cases[] = {
        {both, true, kForgingUevent, "usb-1/input0", "A\nHID_PHYS=hubA"},
        {phys, true, kForgingUevent, "usb-1/input0", "A1"},  // no serial number request before Linux 5.6
        {phys, false, kForgingUevent, "usb-2/input0", "A1"},
        {{}, true, "HID_PHYS=usb-1/input1", "usb-1/input1", ""},
        {{}, true, "", "", ""},  // no uevent file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uevent + (c.opens ? "" : " (no open)"));
        testing::TempDir sysfs;
        std::filesystem::create_directories(sysfs.path() / "hidraw3" / "device");
        if (!c.uevent.empty()) std::ofstream(sysfs.path() / "hidraw3" / "device" / "uevent") << c.uevent;
        auto io = std::make_unique<testing::FakeHidrawIo>();
        testing::FakeHidrawIo& fake = *io;
        fake.class_dir = sysfs.path().string();
        fake.node(to_utf8(kNode)).texts = c.node;
        if (!c.opens) fake.node(to_utf8(kNode)).open_errors = {{O_RDWR, EACCES}, {O_RDONLY, EACCES}, {O_WRONLY, EACCES}};
        HidrawPlatform platform(std::move(io));
        platform.hold(kNode);  // as a run does: its probe then uses the same descriptor
        EXPECT_EQ(platform.location(kNode), c.location);
        EXPECT_EQ(platform.serial_number(kNode), c.serial);
        platform.close(platform.open(kNode));
        EXPECT_EQ(fake.node(to_utf8(kNode)).opens, c.opens ? 1 : 0);  // opening a USB node costs 50 ms
        platform.release(kNode);
        EXPECT_EQ(fake.open_descriptors(), 0u);
    }
}

}  // namespace
}  // namespace wxr::hidraw
