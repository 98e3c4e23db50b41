#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/cli/cli.h"
#include "app/cli/progress.h"
#include "device/transcript.h"
#include "image/image_store.h"

namespace wxr::cli {
namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome wxr7305(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = run(args, out, err, /*terminal=*/false);
    return {code, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::filesystem::path temp_file(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("wxr7305_cli_test_" + name);
}

TEST(Cli, InfoPrintsTheBuiltInImage) {
    Outcome r = wxr7305({"info"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "Customer: Demo\nSize: 38648 bytes\r\nModel: TQ16\r\nVer.: 57\r\nChecksum: 7DF8\r\nSensor: LX300\n");
}

TEST(Cli, InfoOfAFileWithoutInfoBlockFails) {
    auto path = temp_file("plain.bin");
    std::ofstream(path, std::ios::binary) << std::string(300, 'x');
    Outcome r = wxr7305({"info", path.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(contains(r.err, "no info block"));
    EXPECT_EQ(wxr7305({"info", temp_file("missing.bin").string()}).code, 1);
    std::filesystem::remove(path);
}

TEST(Cli, SimulatedUpgradeSucceedsAndItsTraceHoldsTheWholeTransfer) {
    auto trace = temp_file("trace.txt");
    Outcome r = wxr7305({"upgrade", "--simulate", "--virtual-time", "--trace", trace.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Firmware upgrade successful.\nPlease turn off the device. Then turn on again.\n"));
    EXPECT_TRUE(contains(r.out, "flash equals the image"));
    EXPECT_TRUE(contains(r.out, "progress 100%"));

    std::ifstream in(trace);
    std::string text;
    std::size_t chunks = 0, blocks = 0;
    std::vector<std::uint8_t> last_block, end;
    while (std::getline(in, text)) {
        auto line = parse_transcript_line(text);
        ASSERT_TRUE(line) << text;
        if (line->op != "set") continue;
        if (line->bytes[1] == 0x0B) ++chunks;
        if (line->bytes[1] == 0x0C) ++blocks, last_block = line->bytes;
        if (line->bytes[1] == 0x0D) end = line->bytes;
    }
    EXPECT_EQ(chunks, 2464u);
    EXPECT_EQ(blocks, 22u);
    EXPECT_EQ(std::vector<std::uint8_t>(last_block.begin(), last_block.begin() + 6),
              (std::vector<std::uint8_t>{0x05, 0x0C, 0x00, 0x93, 0xF8, 0x03}));
    EXPECT_EQ(std::vector<std::uint8_t>(end.begin(), end.begin() + 6),
              (std::vector<std::uint8_t>{0x05, 0x0D, 0xF8, 0x96, 0xF8, 0x7D}));
    in.close();  // Windows refuses to remove a file that is still open
    std::filesystem::remove(trace);
}

TEST(Cli, ExitCodesTellWhatWentWrong) {
    Outcome none = wxr7305({"upgrade", "--simulate=devices=0", "--virtual-time"});
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(contains(none.err, "Device not found!!"));

    Outcome other = wxr7305({"upgrade", "--simulate=model=7,sensor=1", "--virtual-time", "--shift"});
    EXPECT_EQ(other.code, 3);
    EXPECT_TRUE(contains(other.err, "Error: Sensor不同!! 機種不符!! "));

    // Without Shift a device of another model is not even found.
    EXPECT_EQ(wxr7305({"upgrade", "--simulate=model=7", "--virtual-time"}).code, 2);

    Outcome unplugged = wxr7305({"upgrade", "--simulate=unplug-after=900", "--virtual-time"});
    EXPECT_EQ(unplugged.code, 4);
    EXPECT_TRUE(contains(unplugged.err, "Upgrade fail !!"));

    EXPECT_EQ(wxr7305({"upgrade", "--simulate=fail-block-check=4:2,refuse-block-report=7:3,busy=2",
                       "--virtual-time"}).code,
              0);
}

TEST(Cli, ListShowsEachDevice) {
    Outcome r = wxr7305({"list", "--simulate=devices=2,version=50", "--virtual-time"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(contains(r.out, "sim:0  version 50  TQ16  LX300\n"));
    EXPECT_TRUE(contains(r.out, "sim:1  version 50  TQ16  LX300\n"));
}

TEST(Cli, BadUsageIsExitOne) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"frobnicate"}, {"upgrade", "--bogus"},
                                          {"upgrade", "--simulate=colour=blue"}, {"upgrade", "--simulate=model=300"},
                                          {"upgrade", "--trace"}, {"list", "extra"}}) {
        Outcome r = wxr7305(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(wxr7305({"--help"}).code, 0);
    EXPECT_TRUE(contains(wxr7305({"--help"}).out, "fail-block-check=B:K"));
    EXPECT_EQ(wxr7305({"--version"}).out, "wxr7305 1.0.0.1\n");
}

TEST(Cli, ImageOptionGetsTheBuiltInImagesChecks) {
    auto plain = temp_file("noinfo.bin");
    std::ofstream(plain, std::ios::binary) << std::string(300, 'x');
    EXPECT_EQ(wxr7305({"upgrade", "--simulate", "--virtual-time", "--image", plain.string()}).code, 1);

    auto big = temp_file("big.bin");
    std::ofstream(big, std::ios::binary) << std::string(70000, 'x');
    EXPECT_EQ(wxr7305({"upgrade", "--simulate", "--virtual-time", "--image", big.string()}).code, 1);
    std::filesystem::remove(plain);
    std::filesystem::remove(big);
}

TEST(Cli, UdevRuleNamesEachListedVendorAndProductOnce) {
    Outcome r = wxr7305({"udev-rule", "--simulate=devices=2", "--virtual-time"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "# 70-wxr7305.rules: lets the logged-in user reach these devices' hidraw nodes.\n"
              "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"1209\", ATTRS{idProduct}==\"7305\", "
              "TAG+=\"uaccess\"\n");
    EXPECT_TRUE(contains(r.err, "/etc/udev/rules.d/70-wxr7305.rules"));

    // Only devices discovery lists: another model is not the user's device.
    Outcome other = wxr7305({"udev-rule", "--simulate=model=99", "--virtual-time"});
    EXPECT_EQ(other.code, 2);
    EXPECT_TRUE(other.out.empty());
    EXPECT_TRUE(contains(other.err, "Device not found!!"));
}

TEST(Cli, ProgressBarFrames) {
    EXPECT_EQ(progress_bar(0, 2416), "[........................................]   0%  0/2416");
    EXPECT_EQ(progress_bar(1208, 2416), "[####################....................]  50%  1208/2416");
    EXPECT_EQ(progress_bar(2464, 2416), "[########################################] 100%  2416/2416");
}

}  // namespace
}  // namespace wxr::cli

namespace wxr::cli {
namespace {

// Around the end report (its open, pre-poll, write), and the end report lost.
TEST(CliFaults, AnEndReportThatNeverArrivedIsAFailedUpgrade) {
    for (std::string fault : {"unplug-after=7592", "unplug-after=7593", "unplug-after=7594", "unplug-after=7595",
                              "drop=2492"}) {
        std::ostringstream out, err;
        EXPECT_EQ(run({"upgrade", "--simulate=" + fault, "--virtual-time"}, out, err, false), kExitUpgradeFailed)
            << fault;
        EXPECT_NE(err.str().find("Upgrade fail !!"), std::string::npos) << fault;
    }
}

#ifndef _WIN32
TEST(CliFaults, AFileNameThatIsNoUtf8IsReadAsItStands) {
    const std::string name = (std::filesystem::temp_directory_path() / "wxr7305_cli_fw_").string() + "\xff.bin";
    ImageStore store;
    load_embedded_image(store);
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(store.bytes.data()), store.length);
    std::ostringstream out, err;
    EXPECT_EQ(run({"info", name}, out, err, false), kExitSuccess) << err.str();
    std::filesystem::remove(name);
}
#endif

}  // namespace
}  // namespace wxr::cli
