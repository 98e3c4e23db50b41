#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"
#include "device/linux/usb_sysfs.h"
#include "tests/linux/fake_hidraw_io.h"
#include "tests/linux/temp_dir.h"

namespace wxr::hidraw {
namespace {

namespace fs = std::filesystem;

const DevicePath kNode = u"/dev/hidraw3";
// A product name that adds the lines a uevent parser would read.
const std::string kForgingName = "ZQ\nHID_PHYS=usb-forged/input9\nHID_UNIQ=FORGED";

// A sysfs tree in a temp dir: files under devices/, and class/hidraw/hidraw3/device
// linked to the HID device's directory, as the kernel lays them out.
struct SysfsTree {
    std::string hid;                             // the HID device's directory under devices/
    std::map<std::string, std::string> files;    // under devices/: contents, as the kernel writes them
};

void build(const fs::path& root, const SysfsTree& tree) {
    const fs::path hid = root / "devices" / tree.hid;
    fs::create_directories(hid);
    fs::create_directories(root / "class" / "hidraw" / "hidraw3");
    fs::create_directory_symlink(hid, root / "class" / "hidraw" / "hidraw3" / "device");
    std::ofstream(hid / "uevent", std::ios::binary) << "HID_NAME=" << kForgingName << "\nHID_PHYS=usb-forged/input8\n";
    for (const auto& [file, text] : tree.files) {
        fs::create_directories((root / "devices" / file).parent_path());
        std::ofstream(root / "devices" / file, std::ios::binary) << text;
    }
}

struct Told {
    std::string location, serial;
    int opens = 0;
};

// What the platform tells of the node: node texts from the open node (none
// when it cannot be opened), the rest from the tree.
Told told(const SysfsTree& tree, std::map<RawText, std::string> node_texts, bool opens) {
    testing::TempDir sysfs;
    build(sysfs.path(), tree);
    auto io = std::make_unique<testing::FakeHidrawIo>();
    testing::FakeHidrawIo& fake = *io;
    fake.class_dir = (sysfs.path() / "class" / "hidraw").string();
    fake.node(to_utf8(kNode)).texts = std::move(node_texts);
    if (!opens) fake.node(to_utf8(kNode)).open_errors = {{O_RDWR, EACCES}, {O_RDONLY, EACCES}, {O_WRONLY, EACCES}};
    HidrawPlatform platform(std::move(io));
    platform.hold(kNode);  // as a run does: its probe then uses the same descriptor
    Told out{platform.location(kNode), platform.serial_number(kNode)};
    platform.close(platform.open(kNode));
    out.opens = fake.node(to_utf8(kNode)).opens;
    platform.release(kNode);
    EXPECT_EQ(fake.open_descriptors(), 0u);
    return out;
}

const std::string kXhciDevice = "pci0000:00/0000:00:14.0/usb1/1-2/1-2.3";
// A unit behind a hub on an xHCI port, interface 1, serial A17.
SysfsTree usb_unit(const std::string& serial_file = "A17\n") {
    SysfsTree tree{kXhciDevice + "/1-2.3:1.1/0003:1209:7305.0004",
                   {{kXhciDevice + "/devpath", "2.3\n"}, {kXhciDevice + "/1-2.3:1.1/bInterfaceNumber", "01\n"}}};
    if (!serial_file.empty()) tree.files[kXhciDevice + "/serial"] = serial_file;
    return tree;
}

TEST(HidrawLocation, TheOpenNodeTellsElseTheUsbDevicesOwnFiles) {
    using Texts = std::map<RawText, std::string>;
    const Texts both = {{RawText::Phys, "usb-1/input0"}, {RawText::Uniq, "A\nHID_PHYS=hubA"}};
    const Texts phys = {{RawText::Phys, "usb-1/input0"}};
    struct Case {
        Texts node;  // what the open node tells
        bool opens;
        std::string location, serial;
    } const cases[] = {
        {both, true, "usb-1/input0", "A\nHID_PHYS=hubA"},  // the kernel's own strings, shown escaped
        {phys, true, "usb-1/input0", "A17"},               // no serial number request before Linux 5.6
        {phys, false, "usb-0000:00:14.0-2.3/input1", "A17"},
        {{}, true, "usb-0000:00:14.0-2.3/input1", "A17"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location + (c.opens ? "" : " (no open)"));
        Told t = told(usb_unit(), c.node, c.opens);
        EXPECT_EQ(t.location, c.location);
        EXPECT_EQ(t.serial, c.serial);
        EXPECT_EQ(t.opens, c.opens ? 1 : 0);  // opening a USB node costs 50 ms: the hold's one open
    }
}

// Where the node cannot be opened: the location as usbhid builds HID_PHYS,
// from the kernel's own files; nothing where the HID device is not on USB.
TEST(HidrawLocation, SysfsLocationIsBuiltAsUsbhidNamesIt) {
    const std::string dummy = "platform/dummy_hcd.0/usb3/3-1";
    struct Case {
        const char* what;
        SysfsTree tree;
        std::string location, serial;
    } const cases[] = {
        {"xhci behind a hub", usb_unit(), "usb-0000:00:14.0-2.3/input1", "A17"},
        {"no serial file", usb_unit(""), "usb-0000:00:14.0-2.3/input1", ""},
        {"interface 10, in hex", {dummy + "/3-1:1.10/0003:1209:7305.0001",
                                  {{dummy + "/devpath", "1\n"}, {dummy + "/3-1:1.10/bInterfaceNumber", "0a\n"}}},
         "usb-dummy_hcd.0-1/input10", ""},
        {"uhid", {"virtual/misc/uhid/0003:1209:7305.0005", {}}, "", ""},
        {"no interface number", {"bus/x/1-1/1-1:1.0/h", {{"bus/x/1-1/devpath", "1\n"}}}, "", ""},
        {"bad interface number", {"usb2/2-1/2-1:1.0/h", {{"usb2/2-1/devpath", "1\n"},
                                                          {"usb2/2-1/serial", "S\n"},
                                                          {"usb2/2-1/2-1:1.0/bInterfaceNumber", "zz\n"}}},
         "", "S"},
        {"no root hub above", {"a/b/1-1/1-1:1.0/h", {{"a/b/1-1/devpath", "1\n"}, {"a/b/1-1/serial", "S\n"},
                                                     {"a/b/1-1/1-1:1.0/bInterfaceNumber", "00\n"}}},
         "", "S"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Told t = told(c.tree, {}, false);
        EXPECT_EQ(t.location, c.location);
        EXPECT_EQ(t.serial, c.serial);
    }
}

// A serial number file holds the device's string; what follows its first
// line end is never read, and nothing in it is taken as key=value. The
// uevent's forged HID_NAME lines (written by build()) never count.
TEST(HidrawLocation, HostileSerialNumbersAreOneStringCutAtTheirFirstLineEnd) {
    struct Case {
        std::string file, serial;
    } const cases[] = {
        {"A17\nHID_PHYS=usb-forged/input9\nHID_UNIQ=FORGED\n", "A17"},
        {"\nHID_UNIQ=FORGED\n", ""},
        {"HID_UNIQ=FORGED\n", "HID_UNIQ=FORGED"},
        {"\x1b[2J\x07\r\x7f\n", "\x1b[2J\x07\r\x7f"},
        {"\xff\xfe\xc0\x80 A\n", "\xff\xfe\xc0\x80 A"},
        {std::string("A\0B\n", 4), std::string("A\0B", 3)},
        {"no line end", "no line end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serial);
        Told t = told(usb_unit(c.file), {}, false);
        EXPECT_EQ(t.location, "usb-0000:00:14.0-2.3/input1");
        EXPECT_EQ(t.serial, c.serial);
    }
}

TEST(HidrawLocation, AnAttributeIsReadUpToOnePage) {
    testing::TempDir dir;
    std::ofstream(dir.path() / "long", std::ios::binary) << std::string(3 * kMaxAttributeBytes, 'x');
    EXPECT_EQ(read_attribute(dir.path() / "long"), std::string(kMaxAttributeBytes, 'x'));
    EXPECT_EQ(read_attribute(dir.path() / "missing"), std::nullopt);
}

}  // namespace
}  // namespace wxr::hidraw
