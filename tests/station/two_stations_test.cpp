// Two stations started at one moment on one host (a service manager starts
// every instance at boot): each record pairs only within its own station.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>

namespace wxr::station {
namespace {

#ifndef _WIN32
using Json = nlohmann::json;

std::vector<Json> records_of(const std::filesystem::path& log) {
    std::vector<Json> records;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) records.push_back(Json::parse(line));
    return records;
}

TEST(TwoStations, StartedInOneSecondPairTheirRecordsApart) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("wxr7305_two_stations_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string run = std::string("'") + WXR7305_PROGRAM + "' upgrade --all --simulate=devices=3 --log '" +
                            dir.string() + "/";
    // On the real clock: the virtual clock's id is the same in every run, by design.
    ASSERT_EQ(std::system(("(" + run + "a.jsonl' >/dev/null & " + run + "b.jsonl' >/dev/null & wait)").c_str()), 0);
    std::map<std::pair<std::string, std::uint64_t>, std::multiset<std::string>> kinds;  // (station, visit)
    std::set<std::string> stations, starts;
    for (const char* name : {"a.jsonl", "b.jsonl"}) {
        std::set<std::string> mine;
        for (const Json& r : records_of(dir / name)) {
            mine.insert(r["station"].get<std::string>());
            starts.insert(r["station_start"].get<std::string>());
            kinds[{r["station"], r["visit"]}].insert(r["record"].get<std::string>());
        }
        ASSERT_EQ(mine.size(), 1u) << name;
        EXPECT_EQ(mine.begin()->size(), 16u);
        stations.insert(*mine.begin());
    }
    EXPECT_EQ(stations.size(), 2u) << "two stations, one id";
    EXPECT_EQ(kinds.size(), 6u);
    for (const auto& [key, records] : kinds) {
        EXPECT_EQ(records, (std::multiset<std::string>{"result", "start"})) << key.first << " visit " << key.second;
    }
    std::printf("station starts seen: %zu (one second: the ids alone tell the stations apart)\n", starts.size());
    std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace wxr::station
