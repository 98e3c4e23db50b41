// Two programs on one unit: the run that finds the unit claimed elsewhere
// waits a moment, then leaves it unwritten and says why.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "station/device_run.h"
#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

TEST(UnitInUse, IsWaitedForBrieflyThenLeftUnwritten) {
    // sim:1 is another program's for a minute, sim:2 for less than the wait.
    Outcome r = wxr7305({"upgrade", "--all", "--json", "--virtual-time",
                         "--simulate=devices=3,version=50,1:in-use-for=60000,2:in-use-for=1500"});
    EXPECT_EQ(r.code, kExitUpgradeFailed);
    std::map<std::string, nlohmann::json> by_path;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        auto object = nlohmann::json::parse(line);
        if (object.contains("path")) by_path[object["path"]] = object;
    }
    const std::pair<std::string, std::string> expected[] = {{"sim:0", "success"}, {"sim:1", "failed"}, {"sim:2", "success"}};
    for (const auto& [path, result] : expected) EXPECT_EQ(by_path[path]["result"], result) << path << r.out;
    EXPECT_EQ(by_path["sim:1"]["phase"], "claim");
    EXPECT_EQ(by_path["sim:1"]["detail"], kInUseText);

    // A plain upgrade never even probes it, and says why nothing was found.
    Outcome plain = wxr7305({"upgrade", "--virtual-time", "--simulate=in-use-for=60000"});
    EXPECT_EQ(plain.code, kExitNoDevice);
    EXPECT_TRUE(contains(plain.err, "Device not found!!\n1 HID interface is in use by another program")) << plain.err;
}

}  // namespace
}  // namespace wxr::cli
