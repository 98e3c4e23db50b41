#include <gtest/gtest.h>

#include <string>

#include "device/sim/sim_spec.h"

namespace wxr::sim {
namespace {

std::vector<SimInterfaceConfig> parse_ok(std::string_view spec) {
    auto parsed = parse_sim_spec(spec);
    EXPECT_TRUE(std::holds_alternative<SimBench>(parsed)) << spec;
    return std::holds_alternative<SimBench>(parsed) ? std::get<SimBench>(parsed).interfaces
                                                    : std::vector<SimInterfaceConfig>{};
}

std::string parse_error(std::string_view spec) {
    auto parsed = parse_sim_spec(spec);
    auto* error = std::get_if<SimSpecError>(&parsed);
    return error ? error->message : std::string("no error");
}

TEST(SimSpec, EveryKeyReachesEveryInterface) {
    auto configs = parse_ok("model=12,sensor=7,version=50,busy=2,devices=3,report-length=22,"
                            "fail-block-check=4:2,refuse-block-report=7:3,unplug-after=900,silent-after=5,"
                            "drop=9,drop=11,no-answer-ms=40,stay-busy,garbage,silent");
    ASSERT_EQ(configs.size(), 3u);
    EXPECT_EQ(configs[2].path, u"sim:2");
    for (const auto& c : configs) {
        EXPECT_EQ(c.identity.model, 12);
        EXPECT_EQ(c.identity.sensor, 7);
        EXPECT_EQ(c.identity.version, 50);
        EXPECT_EQ(c.feature_report_length, 22);
        EXPECT_EQ(c.model_faults.busy_reads, 2);
        EXPECT_EQ(c.model_faults.fail_block_check.at(4), 2);
        EXPECT_EQ(c.model_faults.refuse_block_report.at(7), 3);
        EXPECT_TRUE(c.model_faults.stay_busy && c.model_faults.garbage);
        EXPECT_EQ(c.transport_faults.unplug_after, 900u);
        EXPECT_EQ(c.transport_faults.silent_after, 5u);
        EXPECT_EQ(c.transport_faults.drop_sets, (std::set<std::uint64_t>{9, 11}));
        EXPECT_EQ(c.transport_faults.no_answer_ms, 40u);
        EXPECT_TRUE(c.transport_faults.silent);
    }
    EXPECT_EQ(parse_ok("").size(), 1u);
    EXPECT_TRUE(parse_ok("devices=0").empty());
}

TEST(SimSpec, ArrivalsAndKeysForOneInterface) {
    auto configs = parse_ok("devices=3,arrive-every=500,replug-after=3000,1:unplug-after=9,2:silent,2:arrive-at=7");
    ASSERT_EQ(configs.size(), 3u);
    EXPECT_EQ(configs[0].presence.arrive_ms, 0u);
    EXPECT_EQ(configs[1].presence.arrive_ms, 500u);
    EXPECT_EQ(configs[2].presence.arrive_ms, 7u);
    EXPECT_EQ(configs[2].presence.replug_after_ms, 3000u);
    EXPECT_EQ(configs[1].transport_faults.unplug_after, 9u);
    EXPECT_FALSE(configs[0].transport_faults.unplug_after || configs[0].transport_faults.silent);
    EXPECT_TRUE(configs[2].transport_faults.silent);
    EXPECT_EQ(parse_error("devices=2,2:silent"), "no interface 2 for 'silent'");
    EXPECT_EQ(parse_error("x:silent"), "bad interface number in 'x:silent'");
    EXPECT_EQ(parse_error("0:devices=3"), "simulation key 'devices' is not for one interface");
}

// Presses and the system's requests come in the order of the clock, whatever the text's order.
TEST(SimSpec, StopsComeInTheOrderOfTheClock) {
    auto parsed = parse_sim_spec("ctrl-c-at=900,sigterm-at=300,ctrl-c-at=300,devices=2");
    ASSERT_TRUE(std::holds_alternative<SimBench>(parsed));
    const auto& stops = std::get<SimBench>(parsed).stops;
    ASSERT_EQ(stops.size(), 3u);
    EXPECT_TRUE(stops[0].at_ms == 300 && stops[0].from_system);
    EXPECT_TRUE(stops[1].at_ms == 300 && !stops[1].from_system);
    EXPECT_TRUE(stops[2].at_ms == 900 && !stops[2].from_system);
    EXPECT_EQ(parse_error("devices=2,1:sigterm-at=5"), "simulation key 'sigterm-at' is not for one interface");
}

TEST(SimSpec, MistakesAreNamed) {
    EXPECT_EQ(parse_error("colour=blue"), "unknown simulation key 'colour'");
    EXPECT_EQ(parse_error("model"), "simulation key 'model' needs a value");
    EXPECT_EQ(parse_error("silent=1"), "simulation key 'silent' takes no value");
    EXPECT_EQ(parse_error("model=256"), "bad value for simulation key 'model': '256'");
    EXPECT_EQ(parse_error("model=1x"), "bad value for simulation key 'model': '1x'");
    EXPECT_EQ(parse_error("fail-block-check=4"), "bad value for simulation key 'fail-block-check': '4'");
    EXPECT_EQ(parse_error("devices=100000"), "bad value for simulation key 'devices': '100000'");
    // Numbers are plain decimal digits, for values and interface numbers alike.
    for (const char* spec : {"model=-0", "model=+0", "model= 1", "fail-block-check=-0:1", "fail-block-check=1:+2"}) {
        EXPECT_EQ(parse_error(spec).rfind("bad value for simulation key", 0), 0u) << spec;
    }
    for (const char* spec : {"-0:busy=1", "+0:busy=1", " 0:busy=1", ":busy=1"}) {
        EXPECT_EQ(parse_error(spec), "bad interface number in '" + std::string(spec) + "'");
    }
}

}  // namespace
}  // namespace wxr::sim
