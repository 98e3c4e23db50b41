// The station as a person at the bench sees it: counts per unit, the region
// that fits the screen, the recap with its retry, and the words.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/cli/output.h"
#include "app/cli/recap.h"
#include "app/cli/screen_text.h"
#include "app/cli/station_screen.h"
#include "station/unit_tally.h"
#include "station/visit_table.h"
#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

using R = RunResult;

TEST(UnitTally, CountsEachUnitByTheResultItStandsAt) {
    struct Case {
        std::vector<std::pair<std::string, R>> attempts;  // unit, result, in order
        std::string count;
        int code;  // --all or --device, stopped
        std::vector<std::string> unwritten;
        int watch_code = -1;  // a stopped --watch, where it differs
    };
    std::vector<std::pair<std::string, R>> day;
    for (int i = 0; i < 9; ++i) day.push_back({"u" + std::to_string(i), R::Success});
    day.insert(day.end(), 3, {"u9", R::Failed});
    const Case cases[] = {
        {{{"A", R::Failed}, {"A", R::Success}}, "1 unit: 1 written (2 visits)\n", kExitSuccess, {}},
        {{{"A", R::Success}, {"A", R::Skipped}}, "1 unit: 1 written (2 visits)\n", kExitSuccess, {}},
        {{{"A", R::Failed}, {"A", R::NotWritten}}, "1 unit: 1 failed (2 visits)\n", kExitUpgradeFailed, {"A"}},
        {{{"A", R::Success}, {"A", R::NoAnswer}}, "1 unit: 1 no answer (2 visits)\n", kExitUpgradeFailed, {"A"}},
        {{{"A", R::Failed}, {"A", R::Skipped}}, "1 unit: 1 skipped (2 visits)\n", kExitSuccess, {}},
        {{{"B", R::Success}, {"A", R::Refused}}, "2 units: 1 written, 1 refused (2 visits)\n", kExitMismatch, {"A"}},
        {{{"A", R::NotWritten}}, "1 unit: 1 not written (1 visit)\n", kExitStopped, {"A"}, kExitSuccess},
        {{{"B", R::Success}, {"A", R::NotWritten}}, "2 units: 1 written, 1 not written (2 visits)\n", kExitStopped, {"A"},
         kExitSuccess},
        {{{"B", R::Failed}, {"A", R::NotWritten}}, "2 units: 1 failed, 1 not written (2 visits)\n", kExitUpgradeFailed,
         {"A", "B"}},
        {{}, "0 units (0 visits)\n", kExitNoDevice, {}},
        {day, "10 units: 9 written, 1 failed (12 visits)\n", kExitUpgradeFailed, {"u9"}},
    };
    for (const Case& c : cases) {
        UnitResults units;
        for (const auto& [unit, result] : c.attempts) {
            RunReport report;
            report.unit = unit;
            report.path = from_utf8(unit);
            report.result = result;
            units.add(report);
        }
        EXPECT_EQ(count_line(units.tally()), c.count);
        EXPECT_EQ(exit_code_for(units.tally(), /*stopped=*/true, /*watching=*/false), c.code) << c.count;
        const int watch_code = c.watch_code < 0 ? c.code : c.watch_code;
        EXPECT_EQ(exit_code_for(units.tally(), /*stopped=*/true, /*watching=*/true), watch_code) << c.count;
        std::vector<std::string> unwritten;
        for (const UnwrittenUnit& unit : units.unwritten()) unwritten.push_back(to_utf8(unit.path));
        EXPECT_EQ(unwritten, c.unwritten) << c.count;
    }
}

// A unit is its serial when no other unit present reports it; otherwise
// each visit is a unit of its own: a port or a path is no unit.
TEST(UnitTally, AUnitIsItsSerialAloneElseItsVisit) {
    VisitTable visits;
    const std::pair<const char16_t*, UnitIdentity> seen[] = {
        {u"sim:0", {"hubA", ""}},      {u"sim:1", {"hubA", ""}},      {u"sim:2", {"usb-1.3", "S7"}},
        {u"sim:3", {"", ""}},          {u"sim:4", {"usb-1.5", ""}},   {u"sim:5", {"usb-1.6", "SAME"}},
        {u"sim:6", {"usb-1.7", "SAME"}},
    };
    for (const auto& [path, identity] : seen) visits.identify(visits.add(path, 0), identity);
    std::vector<std::string> keys;
    std::vector<bool> location_shared;
    for (const auto& [path, entry] : visits) {
        keys.push_back(unit_key(entry.visit));
        location_shared.push_back(entry.visit.location_shared);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"visit 1", "visit 2", "serial S7", "visit 4", "visit 5", "visit 6",
                                              "visit 7"}));
    EXPECT_EQ(location_shared, (std::vector<bool>{true, true, false, false, false, false, false}));
}

std::vector<RunRow> rows_of(int count, const std::string& long_label = "") {
    std::vector<RunRow> rows;
    for (int i = 0; i < count; ++i) {
        const std::string label = i == 1 && !long_label.empty() ? long_label : "Port " + std::to_string(i);
        const bool writing = i % 7 != 6;
        const std::string state = i % 5 == 4 ? "no answer for 6 s (gives up at 10 s)" : writing ? "writing 41 %" : "querying";
        rows.push_back({label, state, writing, (i * 37) % 2417, 2416});
    }
    return rows;
}

// Every size and crowd: the region fits below kept lines, each line is
// narrower than the screen, the rows keep the order given, the pinned units
// and the status line stay in sight.
TEST(StationFrame, FitsTheScreenKeepsTheOrderAndThePinned) {
    const std::string windows_path = "\\\\?\\hid#vid_1209&pid_7305#7&2f1e3a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    StationStatus status;
    status.writing = 3;
    const std::vector<std::string> pins = {pinned_line(R::Failed, "Port 3 (serial A0017)", 40000, false),
                                           pinned_line(R::Refused, "Port 9", 200000, false)};
    EXPECT_EQ(pins[0], "\u2717 Port 3 (serial A0017) failed 40 s ago: replug to retry");
    EXPECT_EQ(pins[1], "\u2298 Port 9 refused 3 min ago: needs another firmware");
    for (TerminalSize size : {TerminalSize{80, 24}, {40, 10}, {132, 50}, {80, 6}, {20, 3}, {200, 1}}) {
        for (int count : {0, 3, 30, 200}) {
            for (std::size_t pinned : {0u, 2u}) {
                const std::string what = std::to_string(size.columns) + "x" + std::to_string(size.rows) + " " +
                                         std::to_string(count) + " units, " + std::to_string(pinned) + " pinned";
                auto rows = rows_of(count, windows_path);
                auto lines = station_frame(rows, {pins.begin(), pins.begin() + static_cast<std::ptrdiff_t>(pinned)}, status, size);
                ASSERT_FALSE(lines.empty()) << what;
                EXPECT_LE(lines.size(), static_cast<std::size_t>(std::max(size.rows - 4, 1))) << what;
                // Room left for the terminal's "^C".
                EXPECT_EQ(lines.back(), cut_to_columns(status_line(status), static_cast<std::size_t>(std::max(size.columns - 3, 1))));
                std::size_t shown = 0, pins_shown = 0;
                for (const std::string& line : lines) {
                    EXPECT_LT(text_columns(line), static_cast<std::size_t>(size.columns)) << what << ": " << line;
                    if (line.starts_with("\u2717") || line.starts_with("\u2298")) ++pins_shown;
                    if (!line.starts_with("Port ") && !line.starts_with("\u2026")) continue;
                    // In the order given: row i is "Port i" (the long one cut to its end).
                    if (line.starts_with("Port ")) {
                        EXPECT_EQ(std::atoi(line.c_str() + 5), static_cast<int>(shown)) << what;
                    }
                    ++shown;
                }
                if (size.rows - 4 >= 3) {
                    EXPECT_EQ(pins_shown, pinned) << what;
                }
                const bool more = lines.size() > 1 + pins_shown && lines[lines.size() - 2 - pins_shown].starts_with("+");
                if (more) {
                    EXPECT_EQ(lines[lines.size() - 2 - pins_shown], "+" + std::to_string(count - shown) + " more") << what;
                } else if (lines.size() > 1 + pins_shown) {
                    EXPECT_EQ(shown, static_cast<std::size_t>(count)) << what;
                }
            }
        }
    }
}

TEST(StationFrame, EveryRowHasAStateWordAndWritingRowsABar) {
    auto lines = station_frame(rows_of(7), {}, StationStatus{}, {80, 24});
    EXPECT_EQ(lines[0].substr(0, 22), "Port 0    writing 41 %");
    EXPECT_TRUE(contains(lines[4], "no answer for 6 s (gives up at 10 s)  [")) << lines[4];
    EXPECT_EQ(lines[6], "Port 6    querying");
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(lines[i].find('['), lines[0].find('[')) << lines[i];
}

TEST(StationFrame, TheStatusLineSaysTheTotalsFirst) {
    auto status = [](bool watching, bool stopping, std::size_t writing, std::optional<long> count) {
        StationStatus s;
        s.watching = watching;
        s.stopping = stopping;
        s.writing = writing;
        s.count = count;
        s.count_written = 2;
        return s;
    };
    StationStatus totals = status(true, false, 1, 5);
    RunReport failed;
    failed.unit = "u";
    failed.result = R::Failed;
    UnitResults units;
    units.add(failed);
    totals.tally = units.tally();
    const std::pair<StationStatus, std::string> cases[] = {
        {status(true, false, 0, {}), "waiting for units (Ctrl-C to stop)"},
        {status(false, false, 3, {}), "writing 3 (Ctrl-C to stop)"},
        {status(true, true, 2, {}), "stopping: 2 writes finishing, none started; Ctrl-C again to leave now"},
        {status(true, true, 0, {}), "stopping: nothing is being written"},
        {totals, "1 failed \u00b7 count 2 of 5 \u00b7 writing 1, waiting for more units (Ctrl-C to stop)"},
    };
    for (const auto& [s, text] : cases) EXPECT_EQ(status_line(s), text);
}

// What the command writes to a terminal of 80 x 24.
std::string on_terminal(const std::vector<std::string>& args, bool colour) {
    std::ostringstream out;
    TerminalTraits traits{[] { return TerminalSize{80, 24}; }, colour};
    wxr::cli::run(args, out, out, /*terminal=*/true, nullptr, &traits);
    return out.str();
}

// Colour on a terminal that has it; none with NO_COLOR, and no escape at all through a pipe.
TEST(StationScreen, ColourOnlyWhereWanted) {
    const std::vector<std::string> args{"upgrade", "--all", "--virtual-time", "--simulate=devices=2,1:sensor=1"};
    EXPECT_TRUE(contains(on_terminal(args, true), "\x1b[32m\u2713 written"));
    EXPECT_FALSE(contains(on_terminal(args, false), "\x1b[3"));
    EXPECT_FALSE(contains(wxr7305(args).out, "\x1b"));
}

// Every end the same: the region gone, the recap, the retry, the count last;
// lines overwritten in place (never the display erased: tmux would keep the
// old screen in its scrollback), the cursor hidden while drawing and shown at the end.
TEST(StationScreen, EveryEndLeavesTheCountLastAndTheCursorShown) {
    const std::string out = on_terminal({"upgrade", "--all", "--virtual-time", "--simulate=devices=6,3:unplug-after=3000,4:sensor=4"}, true);
    EXPECT_TRUE(out.ends_with("Needs another firmware: sim-usb-1.5 (sensor LX400, firmware is for LX300; Error: Sensor\u4e0d\u540c!!)\n"
                              "6 units: 4 written, 1 failed, 1 refused (6 visits)\n")) << out;
#ifdef _WIN32
    // Quoted there for cmd.exe and PowerShell alike (shell_words_test.cpp has the forms).
    EXPECT_TRUE(contains(out, "Retry them:\n")) << out;
    EXPECT_TRUE(contains(out, "sim-usb-1.4")) << out;
#else
    EXPECT_TRUE(contains(out, "Retry them:\n  wxr7305 upgrade --simulate=devices=6,3:unplug-after=3000,4:sensor=4 --virtual-time --device sim-usb-1.4\n"));
#endif
    EXPECT_LT(out.rfind("\x1b[?25l"), out.rfind("\x1b[?25h"));
    EXPECT_FALSE(contains(out, "\x1b[J")) << "the display erased";
    EXPECT_FALSE(contains(out, "\x1b[2J"));
    EXPECT_FALSE(contains(out, "simulated:")) << "a simulated unit whose flash is right is not said again";
    // Named by its location (no serial, no port names), not its path.
    EXPECT_TRUE(contains(out, "1.56 s  sim-usb-1.1\x1b[K\n")) << out;
}

TEST(ScreenText, ResultLinesWrapAtWords) {
    const std::tuple<std::string, std::size_t, std::size_t, std::vector<std::string>> cases[] = {
        {"Port 3  serial A0017  (stopped at block 8)", 20, 16, {"Port 3  serial A0017", "(stopped at", "block 8)"}},
        {"short", 20, 16, {"short"}},
        {"", 20, 16, {""}},
        {"abcdefghijklmnop qr", 6, 6, {"abcdef", "ghijkl", "mnop", "qr"}},
        {"\u6a5f\u7a2e\u4e0d\u7b26 ok", 5, 5, {"\u6a5f\u7a2e", "\u4e0d\u7b26", "ok"}},
    };
    for (const auto& [text, first, rest, lines] : cases) {
        const auto got = wrap_words(text, first, rest);
        EXPECT_EQ(got, lines) << text;
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_LE(text_columns(got[i]), i == 0 ? first : rest) << text;
    }
}

TEST(Recap, NamesEachUnitNotWrittenAndRetriesThoseARetryHelps) {
    const std::vector<UnwrittenUnit> units = {
        {u"/dev/hidraw3", "usb-1.4", "", R::Failed, "stopped at block 3 of 22"},
        {u"/dev/hidraw7", "usb-1.8", "A0017", R::Refused, "sensor LX100, firmware is for LX300"},
        {u"/tmp/it's here", "", "", R::NoAnswer, ""},
        {u"/dev/hidraw9", "usb-1.9", "A\x1b]0;x\x07", R::Failed, ""},
    };
    const std::string retry = "./wxr7305 upgrade --log 'bench log.jsonl' --device usb-1.4 --device '/tmp/it'\\''s here' --device usb-1.9";
    RecapStyle style;
    style.shell = Shell::Posix;
    EXPECT_EQ(recap_text(units, {"./wxr7305", "upgrade", "--log", "bench log.jsonl"}, style),
              "Not written (4 units):\n"
              "  failed       /dev/hidraw3  at usb-1.4  (stopped at block 3 of 22)\n"
              "  refused      /dev/hidraw7  at usb-1.8  serial A0017  (sensor LX100, firmware is for LX300)\n"
              "  no answer    /tmp/it's here\n"
              "  failed       /dev/hidraw9  at usb-1.9  serial A\\x1b]0;x\\x07\n"
              "Retry them:\n  " + retry + "\n"
              "Needs another firmware: /dev/hidraw7 (sensor LX100, firmware is for LX300)\n");
    // Past the screen: the first entries and how many more; by the bench's names with --port-names.
    PortNames ports;
    ports.entries = {{"usb-1.4", "Port 4"}};
    style.most = 1;
    style.more_hint = ", see --log";
    style.bench_names = true;
    style.ports = &ports;
    const std::string short_recap = recap_text(units, {"w"}, style);
    EXPECT_TRUE(short_recap.starts_with("Not written (4 units):\n  failed       Port 4  (stopped at block 3 of 22)\n"
                                        "  \u2026 and 3 more, see --log\nRetry them:\n")) << short_recap;
    EXPECT_TRUE(contains(short_recap, "Needs another firmware: A0017 (sensor")) << short_recap;
    EXPECT_EQ(recap_text({}, {"wxr7305"}, style), "");
}

TEST(ScreenText, ColumnsOfNarrowAndWideText) {
    const std::tuple<std::string, std::size_t, std::string, std::string> cases[] = {
        // text, columns, cut to 5, fit in 6 keeping the end
        {"sim:12", 6, "sim:1", "sim:12"},
        {"\u6a5f\u7a2e\u4e0d\u7b26", 8, "\u6a5f\u7a2e", "\u2026\u4e0d\u7b26 "},
        {"\u2713 ok", 4, "\u2713 ok", "\u2713 ok  "},
        {"/dev/hidraw10", 13, "/dev/", "\u2026raw10"},
    };
    for (const auto& [text, columns, cut, fit] : cases) {
        EXPECT_EQ(text_columns(text), columns) << text;
        EXPECT_EQ(cut_to_columns(text, 5), cut) << text;
        EXPECT_EQ(fit_columns_keep_end(text, 6), fit) << text;
    }
}

TEST(StationWords, SayWhatDiffersAndAnOlderFirmware) {
    ImageInfo image;
    image.model = 16, image.model_name = u"TQ16", image.sensor = 3, image.sensor_name = u"LX300";
    auto device = [](int model, const char16_t* model_name, int sensor, const char16_t* sensor_name) {
        ImageInfo info;
        info.model = static_cast<std::uint8_t>(model), info.model_name = model_name;
        info.sensor = static_cast<std::uint8_t>(sensor), info.sensor_name = sensor_name;
        return info;
    };
    EXPECT_EQ(mismatch_words(image, device(16, u"TQ16", 1, u"LX100")), "sensor LX100, firmware is for LX300");
    EXPECT_EQ(mismatch_words(image, device(22, u"TQ22", 3, u"LX300")), "model TQ22, firmware is for TQ16");
    EXPECT_EQ(mismatch_words(image, device(99, u"", 1, u"LX100")), "model 99 and sensor LX100, firmware is for TQ16 LX300");
    EXPECT_EQ(mismatch_words(image, image), "");
    EXPECT_EQ(downgrade_words(60, 57), "version 60 \u2192 57, an older firmware");
    EXPECT_EQ(downgrade_words(50, 57), "");
}

// The handler reads while the station posts: a whole list or none, never a mix.
TEST(WritingBoard, AReaderGetsAWholeListWhilePostsGoOn) {
    WritingBoard board;
    const std::string a(300, 'a'), b(700, 'b');
    std::thread poster([&] {
        for (int i = 0; i < 20000; ++i) board.post(i % 2 ? a : b);
    });
    char copy[WritingBoard::kCapacity];
    int mixed = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string read(copy, board.read(copy));
        if (!read.empty() && read != a && read != b) ++mixed;
    }
    poster.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(std::string(copy, board.read(copy)), a);  // the last post, once posting stops
}

struct WordsCase {
    std::vector<std::string> args;
    int code;
    std::vector<std::string> out, err, absent;
};

TEST(StationWords, WhatATechnicianReads) {
    const WordsCase cases[] = {
        // list and upgrade --all agree on every unit that answers as ours.
        {{"list", "--simulate=devices=3,2:model=22"},
         0,
         {"sim:0  version 57  TQ16  LX300  at sim-usb-1.1\n", "sim:1  version 57  TQ16  LX300  at sim-usb-1.2\n",
          "sim:2  version 57  TQ22  LX300  at sim-usb-1.3  does not fit: TQ22 LX300\n"}},
        {{"upgrade", "--all", "--simulate=devices=3,2:model=22"},
         kExitMismatch,
         {"sim:0  success", "sim:1  success", "sim:2  refused  0.10 s  (model TQ22, firmware is for TQ16; Error: \u6a5f\u7a2e\u4e0d\u7b26!!)",
          "3 units: 2 written, 1 refused (3 visits)\n"}},
        {{"list", "--simulate=model=22"}, 0, {"sim:0  version 57  TQ22  LX300  at sim-usb-1.1  does not fit: TQ22 LX300\n"}},
        // "Writing" once the query says it fits; a refusal in the dialog's words and in words.
        {{"upgrade", "--simulate=sensor=4"},
         kExitMismatch,
         {},
         {"Error: Sensor\u4e0d\u540c!! \nwxr7305: sim:0 refused: sensor LX400, firmware is for LX300\n"},
         {"Writing"}},
        {{"upgrade", "--simulate=version=60"}, 0, {"Writing sim:0 (at sim-usb-1.1): version 60 \u2192 57, an older firmware.\n"}},
        // A --device that matches nothing: what was asked, and what is here.
        {{"upgrade", "--device", "sim-usb-1.99", "--simulate=devices=2"},
         kExitNoDevice,
         {},
         {"Device not found!!\n", "wxr7305: --device sim-usb-1.99 matches no interface present (by path, USB location or "
                                  "serial number); present: sim:0 at sim-usb-1.1, sim:1 at sim-usb-1.2.\n"}},
        // Several units named, by location and by serial; one not there makes the exit code say so.
        {{"upgrade", "--device", "sim-usb-1.1", "--device", "S7", "--device", "gone", "--simulate=devices=3,2:serial=S7"},
         kExitNoDevice,
         {"sim:0  success", "sim:2  success", "2 units: 2 written (2 visits)\n"},
         {"--device gone matches no interface"},
         {"sim:1  "}},
        {{"info", "--json"}, 0, {"\"checksum\":32248,\"checksum_hex\":\"7DF8\""}},
    };
    for (const WordsCase& c : cases) {
        std::vector<std::string> args = c.args;
        if (args[0] != "info") args.push_back("--virtual-time");
        Outcome r = wxr7305(args);
        const std::string label = args[0] + " " + args[1];
        EXPECT_EQ(r.code, c.code) << label << "\n" << r.out << r.err;
        for (const std::string& text : c.out) EXPECT_TRUE(contains(r.out, text)) << label << ": " << text << "\n" << r.out;
        for (const std::string& text : c.err) EXPECT_TRUE(contains(r.err, text)) << label << ": " << text << "\n" << r.err;
        for (const std::string& text : c.absent) EXPECT_FALSE(contains(r.out + r.err, text)) << label << ": " << text;
    }
}

// A unit that failed, was replugged and then written: one unit written, exit 0, every attempt in the log,
// when its serial says it is the same unit. Without a serial it is two units, and the failure stays.
TEST(StationWords, AUnitRecoveredByAReplugCountsAsWritten) {
    const auto log = std::filesystem::temp_directory_path() / "wxr7305_screen_test_replug.jsonl";
    std::filesystem::remove(log);
    Outcome r = wxr7305({"upgrade", "--watch", "--virtual-time", "--log", log.string(),
                         "--simulate=devices=1,version=50,fail-block-check=3:9,replug-after=4000,serial=A0017"});
    EXPECT_EQ(r.code, kExitSuccess) << r.out << r.err;
    EXPECT_TRUE(r.out.ends_with("1 unit: 1 written (2 visits)\n")) << r.out;
    std::ifstream in(log);
    std::vector<std::string> results;
    for (std::string line; std::getline(in, line);) {
        auto record = nlohmann::json::parse(line);
        if (record["record"] == "result") results.push_back(record["result"].get<std::string>() + " " + record["unit"].get<std::string>());
    }
    EXPECT_EQ(results, (std::vector<std::string>{"failed serial A0017", "success serial A0017"}));
    in.close();
    std::filesystem::remove(log);

    Outcome unnamed = wxr7305({"upgrade", "--watch", "--virtual-time",
                               "--simulate=devices=1,version=50,fail-block-check=3:9,replug-after=4000"});
    EXPECT_EQ(unnamed.code, kExitUpgradeFailed) << unnamed.out;
    EXPECT_TRUE(contains(unnamed.out, "2 units: 1 written, 1 failed (2 visits)\n")) << unnamed.out;
}

}  // namespace
}  // namespace wxr::cli
