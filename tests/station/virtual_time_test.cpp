// The command line on the virtual clock: each unit sees the times it would
// see on the real clock, the same command prints the same every run, and a
// simulated station with nothing more to come ends.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

// Runs of the same command compared with the first; fewer in the
// sanitizers' builds, a hundred times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kRepeats = 1;
#else
constexpr int kRepeats = 3;
#endif

// Result objects of --json output (the summary, if any, has no path).
std::vector<nlohmann::json> results(const std::string& out) {
    std::vector<nlohmann::json> found;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        auto object = nlohmann::json::parse(line);
        if (object.contains("path") && object.contains("result")) found.push_back(object);
    }
    return found;
}

// One unit written alone on a bench: the time every unit of a bench should see.
double one_unit_seconds() {
    auto alone = results(wxr7305({"upgrade", "--all", "--json", "--virtual-time", "--simulate"}).out);
    return alone.empty() ? -1 : alone[0]["seconds"].get<double>();
}

TEST(VirtualTime, UnitsSideBySideEachTakeTheTimeOfOneAlone) {
    double alone = one_unit_seconds();
    EXPECT_NEAR(alone, 1.5, 0.1);
    const std::vector<std::string> benches[] = {
        {"upgrade", "--all", "--json", "--virtual-time", "--simulate=devices=20"},
        {"upgrade", "--watch", "--count", "5", "--json", "--virtual-time",
         "--simulate=devices=5,version=50,arrive-every=100,replug-after=3000"},
        {"upgrade", "--watch", "--json", "--virtual-time", "--simulate=devices=12,version=50,arrive-every=7"},
    };
    for (const auto& args : benches) {
        Outcome r = wxr7305(args);
        EXPECT_EQ(r.code, 0) << args.back() << "\n" << r.err;
        auto units = results(r.out);
        EXPECT_FALSE(units.empty()) << args.back();
        for (const auto& unit : units) {
            EXPECT_EQ(unit["result"], "success") << args.back() << ": " << unit.dump();
            EXPECT_EQ(unit["seconds"].get<double>(), alone) << args.back() << ": " << unit.dump();
        }
    }
}

TEST(VirtualTime, TheSameCommandPrintsTheSameEveryRun) {
    const std::string faults = ",3:unplug-after=3000,5:busy=3,7:silent-after=100,9:sensor=1,11:drop=50,"
                               "12:fail-block-check=3:2,14:refuse-block-report=20:16,16:arrive-at=700";
    const std::vector<std::string> commands[] = {
        {"upgrade", "--all", "--json", "--virtual-time", "--simulate=devices=20" + faults},
        {"upgrade", "--all", "--virtual-time", "--simulate=devices=20" + faults},
        {"upgrade", "--watch", "--virtual-time", "--simulate=devices=20,version=50,arrive-every=150,replug-after=4000" +
                                                     faults},
    };
    for (const auto& args : commands) {
        Outcome first = wxr7305(args);
        for (int again = 0; again < kRepeats; ++again) {
            Outcome next = wxr7305(args);
            EXPECT_EQ(next.code, first.code) << args[1];
            ASSERT_EQ(next.out, first.out) << args[1];
        }
    }
}

// Units that are all dealt with and will not come back: the station ends
// (on the virtual clock, waiting would spin through time for nothing).
TEST(VirtualTime, ASimulatedStationWithNothingMoreToComeEnds) {
    const std::pair<std::vector<std::string>, std::string> stations[] = {
        {{"--simulate=devices=2"}, "2 units: 2 skipped (2 visits)\n"},
        {{"--count", "3", "--simulate=devices=3"}, "3 units: 3 skipped (3 visits)\n"},
        // Written, then skipped on its return: still one unit written, as its serial says.
        {{"--simulate=devices=2,version=50,0:arrive-at=5000,1:replug-after=3000,0:serial=A,1:serial=B"},
         "2 units: 2 written (3 visits)\n"},
        // Without a serial its return is another unit.
        {{"--simulate=devices=2,version=50,0:arrive-at=5000,1:replug-after=3000"},
         "3 units: 2 written, 1 skipped (3 visits)\n"},
        {{"--simulate=devices=0"}, "0 units (0 visits)\n"},
    };
    for (const auto& [keys, count] : stations) {
        std::vector<std::string> args = {"upgrade", "--watch", "--virtual-time"};
        args.insert(args.end(), keys.begin(), keys.end());
        Outcome r = wxr7305(args);
        EXPECT_TRUE(r.out.ends_with(count)) << keys.back() << "\n" << r.out;
    }
}

}  // namespace
}  // namespace wxr::cli
