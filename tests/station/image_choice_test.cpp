// A mixed bench: several --image files, each unit written with the one of its
// model and sensor, a unit that fits none refused, and list naming the choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/cli/cli.h"
#include "tests/cli/cli_run.h"
#include "image/image_store.h"

namespace wxr::cli {
namespace {

std::string image_file(int model, int sensor) {
    return bench_image_file(model, sensor, ::testing::UnitTest::GetInstance()->current_test_info()->name());
}

// sim:0 TQ16 LX300, sim:1 TQ22 LX300, sim:2 TQ22 LX100, sim:3 TQ23 LX300.
constexpr char kBench[] = "--simulate=devices=4,version=50,model=16,sensor=3,1:model=22,2:model=22,2:sensor=1,3:model=23";

TEST(MixedBench, EachUnitGetsTheImageOfItsModelAndSensorAndOneThatFitsNoneIsRefused) {
    const std::string tq16 = image_file(16, 3), tq22 = image_file(22, 3), tq22_lx100 = image_file(22, 1);
    Outcome r = wxr7305({"upgrade", "--all", kBench, "--virtual-time", "--image", tq16, "--image", tq22, "--image",
                         tq22_lx100});
    EXPECT_EQ(r.code, 3) << r.out << r.err;  // one refused, none failed
    for (const char* unit : {"sim:0", "sim:1", "sim:2"}) {
        EXPECT_TRUE(contains(r.out, std::string(unit) + "  success")) << r.out;
        // Each flash holds the image chosen for it, not the first one given.
        EXPECT_TRUE(contains(r.out, std::string("Simulated device ") + unit +
                                        ": flash equals the image; end report matches the flash."))
            << r.out;
    }
    EXPECT_TRUE(contains(r.out, "sim:3  refused")) << r.out;
    EXPECT_TRUE(contains(r.out, "no image for TQ23 LX300")) << r.out;

    Outcome list = wxr7305({"list", kBench, "--virtual-time", "--image", tq16, "--image", tq22});
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_TRUE(contains(list.out, "sim:0  version 50  TQ16  LX300  at sim-usb-1.1  image " + tq16 + "\n")) << list.out;
    EXPECT_TRUE(contains(list.out, "sim:1  version 50  TQ22  LX300  at sim-usb-1.2  image " + tq22 + "\n")) << list.out;
    EXPECT_TRUE(contains(list.out, "sim:2  version 50  TQ22  LX100  at sim-usb-1.3  does not fit: TQ22 LX100\n")) << list.out;

    Outcome json = wxr7305({"list", kBench, "--virtual-time", "--json", "--image", tq16, "--image", tq22});
    std::istringstream lines(json.out);
    std::vector<nlohmann::json> units;
    for (std::string line; std::getline(lines, line);) units.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(units.size(), 4u) << json.out;
    EXPECT_EQ(units[1]["image"], tq22);
    EXPECT_TRUE(units[3]["image"].is_null());
}

TEST(MixedBench, TwoImagesForTheSameUnitsAreRefusedBeforeAnyWrite) {
    const std::string tq16 = image_file(16, 3), copy = image_file(16, 3) + ".copy";
    // mingw's copy_file does not overwrite: an earlier run's copy goes first.
    std::filesystem::remove(copy);
    std::filesystem::copy_file(tq16, copy);
    Outcome r = wxr7305({"upgrade", "--all", kBench, "--virtual-time", "--image", tq16, "--image", copy});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "are both for TQ16 LX300")) << r.err;
    EXPECT_FALSE(contains(r.out, "success")) << r.out;
    // A single image: every unit is listed, as upgrade --all would take it, and those it does not fit say so.
    Outcome one = wxr7305({"list", kBench, "--virtual-time", "--image", image_file(22, 3)});
    EXPECT_TRUE(contains(one.out, "sim:0  version 50  TQ16  LX300  at sim-usb-1.1  does not fit: TQ16 LX300\n")) << one.out;
    EXPECT_TRUE(contains(one.out, "sim:1  version 50  TQ22  LX300  at sim-usb-1.2  image ")) << one.out;
}

// A simulated unit is, unless told otherwise, what the firmware written fits:
// the built-in one, or the first --image.
TEST(SimulatedDefaults, AUnitFitsTheFirmwareTheCommandWrites) {
    const std::string tq17 = image_file(17, 5), tq22 = image_file(22, 5);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string shown;
    } cases[] = {
        {{"upgrade", "--simulate"}, 0, "Firmware upgrade successful."},
        {{"upgrade", "--simulate", "--image", tq17}, 0, "Firmware upgrade successful."},
        {{"list", "--simulate", "--image", tq17}, 0, "TQ17  LX500"},
        {{"upgrade", "--simulate=devices=2,1:model=22", "--all", "--image", tq17, "--image", tq22}, 0,
         "2 units: 2 written"},
        // What the text says wins.
        {{"upgrade", "--simulate=model=16", "--image", tq17}, 2, ""},
        {{"upgrade", "--simulate=sensor=3", "--image", tq17}, 3, ""},
    };
    for (Case& c : cases) {
        c.args.push_back("--virtual-time");
        Outcome r = wxr7305(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[1] << r.err;
        EXPECT_TRUE(contains(r.out, c.shown)) << r.out;
    }
}

}  // namespace
}  // namespace wxr::cli
