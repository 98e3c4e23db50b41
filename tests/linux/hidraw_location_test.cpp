#include "device/linux/hidraw_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/linux/temp_dir.h"

namespace wxr::hidraw {
namespace {

TEST(HidrawLocation, ReadsPhysAndUniqFromTheHidDevicesUevent) {
    testing::TempDir dir;
    auto device = dir.path() / "hidraw3" / "device";
    std::filesystem::create_directories(device);
    std::ofstream(device / "uevent") << "DRIVER=hid-generic\nHID_ID=0003:00001209:00007305\nHID_NAME=ZQ unit\n"
                                        "HID_PHYS=usb-0000:00:14.0-3.2/input0\nHID_UNIQ=A0017\nMODALIAS=hid:b0003\n";
    HidUevent found = read_hid_uevent(dir.path().string(), "hidraw3");
    EXPECT_EQ(found.phys, "usb-0000:00:14.0-3.2/input0");
    EXPECT_EQ(found.uniq, "A0017");

    // No serial number, a missing node, a name that is no node: empty, never an error.
    EXPECT_EQ(parse_hid_uevent("HID_PHYS=usb-1/input1\nHID_UNIQ=\n").uniq, "");
    EXPECT_EQ(parse_hid_uevent("HID_PHYS=usb-1/input1").phys, "usb-1/input1");
    EXPECT_EQ(read_hid_uevent(dir.path().string(), "hidraw9").phys, "");
    EXPECT_EQ(read_hid_uevent(dir.path().string(), "").phys, "");
}

}  // namespace
}  // namespace wxr::hidraw
