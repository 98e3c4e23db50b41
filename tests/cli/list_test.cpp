// `list` sees a bench as `upgrade --all` does: the same answer window, a unit
// slow to answer shown as such, and one gone during its query never shown
// as a model it does not have.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

std::map<std::string, nlohmann::json> by_path(const std::string& out) {
    std::map<std::string, nlohmann::json> records;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        auto object = nlohmann::json::parse(line, nullptr, false);
        if (object.contains("path")) records[object["path"].get<std::string>()] = object;
    }
    return records;
}

// What list says of a unit, in one word, and what upgrade --all does with it.
std::string list_word(const nlohmann::json& record) {
    if (record.contains("state")) return record["state"].get<std::string>();
    return record["fits"].get<bool>() ? "fits" : "does-not-fit";
}

TEST(CliList, ShowsEachUnitAsUpgradeAllTreatsIt) {
    struct Case {
        std::string simulate;
        std::string text;                          // list's output
        std::map<std::string, std::string> units;  // path: list's word, then --all's result
        int code;
    } const cases[] = {
        {"devices=2,0:unplug-after=7",
         "sim:0  gone  at sim-usb-1.1  (gone during its query)\n"
         "sim:1  version 57  TQ16  LX300  at sim-usb-1.2\n",
         {{"sim:0", "gone failed"}, {"sim:1", "fits success"}}, 0},
        // Slow to answer, then asked again within its window, as --all does.
        {"devices=2,1:answer-after=2000",
         "sim:0  version 57  TQ16  LX300  at sim-usb-1.1\n"
         "sim:1  version 57  TQ16  LX300  at sim-usb-1.2\n",
         {{"sim:0", "fits success"}, {"sim:1", "fits success"}}, 0},
        {"devices=2,1:answer-after=5000",
         "sim:0  version 57  TQ16  LX300  at sim-usb-1.1\n"
         "sim:1  no answer  at sim-usb-1.2  (does not answer as a device of this kind within 3.05 s: no reply)\n",
         {{"sim:0", "fits success"}, {"sim:1", "no-answer no-answer"}}, 0},
        {"devices=1,silent,no-answer-ms=5000",
         "sim:0  no answer  at sim-usb-1.1  (does not answer as a device of this kind within 10.05 s: no reply)\n",
         {{"sim:0", "no-answer no-answer"}}, 2},
        {"devices=2,1:sensor=4,1:serial=B2",
         "sim:0  version 57  TQ16  LX300  at sim-usb-1.1\n"
         "sim:1  version 57  TQ16  LX400  at sim-usb-1.2  serial B2  does not fit: TQ16 LX400\n",
         {{"sim:0", "fits success"}, {"sim:1", "does-not-fit refused"}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.simulate);
        const std::string simulate = "--simulate=" + c.simulate;
        Outcome text = wxr7305({"list", "--virtual-time", simulate});
        EXPECT_EQ(text.out, c.text);
        EXPECT_EQ(text.code, c.code) << text.err;
        auto listed = by_path(wxr7305({"list", "--json", "--virtual-time", simulate}).out);
        auto upgraded = by_path(wxr7305({"upgrade", "--all", "--json", "--virtual-time", simulate}).out);
        std::map<std::string, std::string> units;
        for (const auto& [path, record] : listed) {
            units[path] = list_word(record) + " " + upgraded[path].value("result", "absent");
            // A unit that told no model has no model fields.
            EXPECT_EQ(record.contains("model") || record.contains("version"), !record.contains("state")) << path;
        }
        EXPECT_EQ(units, c.units);
    }
}

}  // namespace
}  // namespace wxr::cli
