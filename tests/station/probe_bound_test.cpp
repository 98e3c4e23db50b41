// The probe of a unit that does not answer: under the one silence bound
// however its requests hang, and told in the time it was really asked.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "device/silence_watch.h"
#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

nlohmann::json record_of(const std::string& out, const std::string& path) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        auto object = nlohmann::json::parse(line, nullptr, false);
        if (object.contains("path") && object["path"] == path) return object;
    }
    return {};
}

TEST(StationProbe, AUnitThatHangsIsNoAnswerWithinTheSilenceBoundInTheTimeItWasAsked) {
    struct Case {
        std::string fault;  // sim:1's; sim:0 answers
        std::string result;
        std::string detail;  // empty: none
        std::uint64_t request_ms;  // how long each unanswered request hangs
    } const cases[] = {
        // Each request waits as usbcore's control timeout does: the third one is never asked.
        {"1:silent,1:no-answer-ms=5000", "no-answer",
         "does not answer as a device of this kind within 10.05 s: no reply", 5000},
        {"1:silent,1:no-answer-ms=4000", "no-answer",
         "does not answer as a device of this kind within 12.05 s: no reply", 4000},
        // Its answer window closes first.
        {"1:silent,1:no-answer-ms=1000", "no-answer",
         "does not answer as a device of this kind within 3.05 s: no reply", 1000},
        {"1:silent", "no-answer", "does not answer as a device of this kind within 3.05 s: no reply", 0},
        {"1:stay-busy", "no-answer", "does not answer as a device of this kind within 3.25 s: it stays busy", 0},
        // A unit still starting answers the request that follows a hung one.
        {"1:answer-after=2000,1:no-answer-ms=5000", "success", "", 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Outcome r = wxr7305({"upgrade", "--all", "--json", "--virtual-time", "--simulate=devices=2," + c.fault});
        nlohmann::json unit = record_of(r.out, "sim:1");
        ASSERT_TRUE(unit.is_object()) << r.out;
        EXPECT_EQ(unit["result"], c.result);
        EXPECT_EQ(unit.value("detail", ""), c.detail);
        EXPECT_EQ(record_of(r.out, "sim:0")["result"], "success");
        if (c.result != "no-answer") continue;
        // Its time is the time in its words, never past the bound and one request.
        std::smatch said;
        const std::string detail = c.detail;
        ASSERT_TRUE(std::regex_search(detail, said, std::regex("within ([0-9.]+) s")));
        EXPECT_DOUBLE_EQ(unit["seconds"].get<double>(), std::stod(said[1]));
        EXPECT_LE(unit["seconds"].get<double>() * 1000, double(kMaxSilenceMs + c.request_ms + 100));
    }
}

}  // namespace
}  // namespace wxr::cli
