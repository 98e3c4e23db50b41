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

const std::string kNode = "/dev/hidraw3";
// A serial number that carries a line of its own after the kernel's HID_PHYS.
const std::string kForgingUevent =
    "HID_NAME=ZQ unit\nHID_PHYS=usb-0000:00:14.0-3.2/input0\nHID_UNIQ=A0017\nHID_PHYS=hubA\nMODALIAS=hid:b0003\n";

TEST(HidrawLocation, TheOpenNodeFirstThenTheFirstOfEachUeventKey) {
    struct Case {
        const char* name;
        std::map<RawText, std::string> node_texts;  // what the open node tells
        bool opens;
        std::string uevent;  // empty: none
        std::string location;
        std::string serial;
    };
    const Case cases[] = {
        {"node tells both", {{RawText::Phys, "usb-1/input0"}, {RawText::Uniq, "A\nHID_PHYS=hubA"}}, true,
         kForgingUevent, "usb-1/input0", "A\nHID_PHYS=hubA"},
        {"node without serial numbers (before Linux 5.6)", {{RawText::Phys, "usb-1/input0"}}, true, kForgingUevent,
         "usb-1/input0", "A0017"},
        {"node cannot be opened", {{RawText::Phys, "usb-1/input0"}}, false, kForgingUevent,
         "usb-0000:00:14.0-3.2/input0", "A0017"},
        {"no serial number", {{RawText::Phys, "usb-1/input0"}, {RawText::Uniq, ""}}, true, "", "usb-1/input0", ""},
        {"uevent without a serial line", {}, true, "HID_PHYS=usb-1/input1", "usb-1/input1", ""},
        {"nothing known", {}, true, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto io = std::make_unique<testing::FakeHidrawIo>();
        testing::FakeNode& node = io->node(kNode);
        node.texts = c.node_texts;
        if (!c.opens) node.open_errors = {{O_RDWR, EACCES}, {O_RDONLY, EACCES}, {O_WRONLY, EACCES}};
        if (!c.uevent.empty()) io->uevents["hidraw3"] = c.uevent;
        testing::FakeHidrawIo& fake = *io;
        HidrawPlatform platform(std::move(io));
        EXPECT_EQ(platform.location(from_utf8(kNode)), c.location);
        EXPECT_EQ(platform.serial_number(from_utf8(kNode)), c.serial);
        EXPECT_EQ(fake.open_descriptors(), 0u);
    }
}

TEST(HidrawLocation, AHeldNodeIsAskedThroughItsKeptDescriptor) {
    auto io = std::make_unique<testing::FakeHidrawIo>();
    testing::FakeHidrawIo& fake = *io;
    fake.node(kNode).texts = {{RawText::Phys, "usb-1/input0"}};
    HidrawPlatform platform(std::move(io));
    platform.hold(from_utf8(kNode));
    EXPECT_EQ(platform.location(from_utf8(kNode)), "usb-1/input0");
    platform.serial_number(from_utf8(kNode));
    platform.close(platform.open(from_utf8(kNode)));
    EXPECT_EQ(fake.node(kNode).opens, 1);  // opening a USB node costs 50 ms
    platform.release(from_utf8(kNode));
    EXPECT_EQ(fake.open_descriptors(), 0u);
}

TEST(HidrawLocation, SystemIoReadsTheHidDevicesUevent) {
    testing::TempDir dir;
    auto device = dir.path() / "hidraw3" / "device";
    std::filesystem::create_directories(device);
    std::ofstream(device / "uevent") << kForgingUevent;
    SystemHidrawIo io(dir.path().string());
    std::string text;
    ASSERT_EQ(io.hid_uevent("hidraw3", text), 0);
    EXPECT_EQ(text, kForgingUevent);
    EXPECT_EQ(io.hid_uevent("hidraw9", text), -ENOENT);
}

}  // namespace
}  // namespace wxr::hidraw
