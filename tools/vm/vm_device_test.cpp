// The guest devices' shared core on the host: the faults that start after a
// number of sets, the reports it refuses, and what its summary says it saw.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tools/vm/vm_device.h"

namespace wxr::vm {
namespace {

using Reply = std::array<std::uint8_t, sim::kReplyLength>;

DeviceCore core_with(std::vector<std::string> args) {
    args.insert(args.begin(), "device");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    return DeviceCore(parse_device_options(static_cast<int>(argv.size()), argv.data(), "device",
                                           "", nullptr));
}

void set(DeviceCore& core, std::size_t length = 21, std::uint8_t id = sim::kReportId) {
    std::vector<std::uint8_t> data(length, 0);
    data[0] = id;
    core.on_set(kFeatureReportType, id, data);
}

struct FaultCase {
    const char* option;
    Answer after;
};

class FaultAfterSets : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultAfterSets, StartsAfterThatManySetsAndStays) {
    DeviceCore core = core_with({GetParam().option, "3"});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(core.next_answer(), Answer::reply) << "before set " << i + 1;
        set(core);
    }
    EXPECT_EQ(core.next_answer(), GetParam().after);
    Reply reply{};
    core.on_get(kFeatureReportType, sim::kReportId, 21, reply);
    EXPECT_EQ(core.next_answer(), GetParam().after) << "a read does not end it";
    EXPECT_FALSE(core.unplug_due());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultAfterSets,
                         testing::Values(FaultCase{"--stall-after-sets", Answer::stall},
                                         FaultCase{"--silent-after-sets", Answer::silent}));

TEST(VmDeviceCore, UnplugIsDueAfterTheNthSet) {
    DeviceCore core = core_with({"--unplug-after-sets", "2"});
    set(core);
    EXPECT_FALSE(core.unplug_due());
    set(core);
    EXPECT_TRUE(core.unplug_due());
    EXPECT_EQ(core.next_answer(), Answer::reply);
}

TEST(VmDeviceCore, SilenceWinsOverAStallDueAtTheSameTime) {
    DeviceCore core = core_with({"--stall-after-sets", "1", "--silent-after-sets", "1"});
    set(core);
    EXPECT_EQ(core.next_answer(), Answer::silent);
}

TEST(VmDeviceCore, RefusesEveryReportButFeatureFive) {
    DeviceCore core = core_with({});
    Reply reply{};
    EXPECT_FALSE(core.on_get(kFeatureReportType, 6, 21, reply));
    EXPECT_FALSE(core.on_get(1, sim::kReportId, 21, reply));
    EXPECT_TRUE(core.on_get(kFeatureReportType, sim::kReportId, 21, reply));
    EXPECT_EQ(reply[0], sim::kReportId);
    std::vector<std::uint8_t> data(21, 0);
    data[0] = 6;
    EXPECT_FALSE(core.on_set(kFeatureReportType, 6, data));
}

TEST(VmDeviceCore, SummaryNamesEveryRequestLengthSeen) {
    DeviceCore core = core_with({"--name", "unit"});
    EXPECT_NE(core.summary().find("set-lengths=- get-lengths=- "), std::string::npos)
        << core.summary();
    set(core, 32);
    set(core, 21);
    set(core, 21);
    Reply reply{};
    core.on_get(kFeatureReportType, sim::kReportId, 64, reply);
    core.on_get(kFeatureReportType, sim::kReportId, std::nullopt, reply);  // uhid does not say
    core.note_refused();
    std::string summary = core.summary();
    EXPECT_EQ(summary.rfind("unit: gets=2 sets=3 ", 0), 0u) << summary;
    EXPECT_NE(summary.find("set-lengths=21,32 get-lengths=64 refused=1 silent=no"),
              std::string::npos)
        << summary;
}

TEST(VmDeviceCore, ParsesFaultsAndTheTransportsOwnOptions) {
    std::string ffs;
    auto extra = [&](const std::string& arg, const std::string& value) {
        if (arg != "--ffs") return false;
        ffs = value;
        return true;
    };
    std::vector<std::string> args = {"device", "--ffs", "/dev/ffs/unit1",
                                     "--fail-block-check", "1:2", "--refuse-block-report",
                                     "0x2:1", "--busy-reads", "3", "--feature-bytes", "21"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    DeviceOptions o = parse_device_options(static_cast<int>(argv.size()), argv.data(), "device",
                                           "--ffs DIR", extra);
    EXPECT_EQ(ffs, "/dev/ffs/unit1");
    EXPECT_EQ(o.faults.fail_block_check.at(1), 2);
    EXPECT_EQ(o.faults.refuse_block_report.at(2), 1);
    EXPECT_EQ(o.faults.busy_reads, 3);
    EXPECT_EQ(report_descriptor(o).size(), report_descriptor(DeviceOptions{}).size());
    EXPECT_NE(report_descriptor(o).data(), report_descriptor(DeviceOptions{}).data());
}

TEST(VmDeviceCoreDeath, RejectsAMalformedFault) {
    EXPECT_EXIT(core_with({"--fail-block-check", "1"}), testing::ExitedWithCode(2), "usage");
    EXPECT_EXIT(core_with({"--feature-bytes", "32"}), testing::ExitedWithCode(2), "usage");
}

}  // namespace
}  // namespace wxr::vm
