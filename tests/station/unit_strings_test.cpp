// A unit's strings (its location and serial number) are the system's and the
// device's: every record shows them escaped, never as lines or bytes of its own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "station/record_json.h"
#include "station/unit_text.h"

namespace wxr::station {
namespace {

struct Hostile {
    std::string text;
    std::string shown_json;      // after a JSON round trip: bad UTF-8 replaced
    std::string shown_terminal;  // printable()
};

const Hostile kHostile[] = {
    {"A17\nHID_UNIQ=FORGED", "A17\nHID_UNIQ=FORGED", "A17\\x0aHID_UNIQ=FORGED"},
    {"\x1b[2J\x07\r", "\x1b[2J\x07\r", "\\x1b[2J\\x07\\x0d"},
    {"\xff\xfe A", "\xef\xbf\xbd\xef\xbf\xbd A", "\xef\xbf\xbd\xef\xbf\xbd A"},
    {"\"}{\"unit\":\"x", "\"}{\"unit\":\"x", "\"}{\"unit\":\"x"},
};

// Each record must be one line that parses, whatever the strings hold (a
// log record comes without its line end).
nlohmann::json one_line(std::string record) {
    if (record.ends_with('\n')) record.pop_back();
    EXPECT_EQ(record.find_first_of("\n\r\x1b"), std::string::npos) << record;
    return nlohmann::json::parse(record);
}

TEST(StationStrings, EveryRecordKeepsAHostileLocationAndSerialAsOneEscapedString) {
    ImageInfo device;
    RunReport report;
    report.path = u"sim:0";
    report.result = RunResult::Success;
    for (const Hostile& h : kHostile) {
        SCOPED_TRACE(h.shown_terminal);
        report.location = h.text;
        report.serial = h.text;
        const nlohmann::json records[] = {
            one_line(device_json(u"sim:0", device, h.text, h.text, nullptr, false)),
            one_line(unanswered_json(u"sim:0", h.text, h.text, "gone", "gone during its query")),
            one_line(report_json(report, std::nullopt)),
            one_line(log_json(report, std::nullopt, {"t", "host", "s", LogRecord::Result})),
        };
        for (const auto& record : records) {
            EXPECT_EQ(record["location"], h.shown_json);
            EXPECT_EQ(record["serial"], h.shown_json);
            EXPECT_EQ(record["path"], "sim:0");
        }
        EXPECT_EQ(whereabouts(h.text, ""), "at " + h.shown_terminal);
    }
}

}  // namespace
}  // namespace wxr::station
