// A restart writes no unit twice: the station reads what its log says it
// wrote. Rotation restarts nothing: SIGUSR1 has the station open its log
// anew, and no record is lost or split between the two files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#ifndef _WIN32
#include <signal.h>
#endif

#include "device/host.h"
#include "station/log_file.h"
#include "station/log_recall.h"
#include "tests/cli/cli_process.h"
#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A directory of the test's own: tests run side by side.
fs::path fresh_dir(const std::string& tag) {
    constexpr int kTries = 100;  // names already taken in a row
    std::random_device random;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        fs::path dir = fs::temp_directory_path() / ("wxr7305_" + tag + "_" + std::to_string(random()));
        if (fs::create_directory(dir)) return dir;
    }
    throw std::runtime_error("no fresh directory for " + tag);
}

std::vector<std::string> lines_of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void append(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::app) << bytes;
}

// Each record of the log changed by `edit` (a line that is no record stays as it is).
void edit_records(const fs::path& log, const std::function<void(json&)>& edit) {
    std::string text;
    for (const std::string& line : lines_of(log)) {
        json record = json::parse(line);
        edit(record);
        text += record.dump() + "\n";
    }
    std::ofstream(log, std::ios::binary | std::ios::trunc) << text;
}

Outcome shift(const fs::path& log, const std::string& simulation) {
    return wxr7305({"upgrade", "--watch", "--log", log.string(), "--virtual-time", "--simulate=" + simulation});
}

// A result as the cases name it: "success", "failed", ..., or "written before"
// for a skip by the log's word, whose reason must then give the written
// record's local time.
std::string result_of(const json& record, const std::string& written_at) {
    const std::string result = record["result"];
    const std::string detail = record.value("detail", "");
    if (result != "skipped" || detail.find("written by this station") == std::string::npos) return result;
    EXPECT_TRUE(std::regex_match(detail, std::regex("written by this station at [0-2][0-9]:[0-5][0-9], not yet power-cycled")))
        << detail;
    EXPECT_EQ(detail, "written by this station at " + written_at + ", not yet power-cycled");
    return "written before";
}

constexpr char kOne[] = "devices=1,version=50,serial=A1";

struct Case {
    const char* what;
    std::string before;  // the shift that wrote the log
    std::function<void(const fs::path& log, const std::string& host)> between;
    std::string after;  // the shift after the restart
    std::vector<std::string> results;
};

const Case kCases[] = {
    {"written, still on the bench", kOne, nullptr, kOne, {"written before"}},
    // Switched off since; or another unit with a placeholder serial.
    {"plugged in after the start", kOne, nullptr, std::string(kOne) + ",0:arrive-at=2000", {"success"}},
    {"left and came back", kOne, nullptr, std::string(kOne) + ",replug-after=3000", {"written before", "success"}},
    {"another image now", kOne,
     [](const fs::path& log, const std::string&) { edit_records(log, [](json& r) { r["image"]["version"] = 56; }); },
     kOne, {"success"}},
    {"its write failed", kOne,
     [](const fs::path& log, const std::string&) {
         edit_records(log, [](json& r) {
             if (r["record"] == "result") r["result"] = "failed";
         });
     },
     kOne, {"success"}},
    {"written again and cut off (a start without its result)", kOne,
     [](const fs::path& log, const std::string&) { append(log, lines_of(log).front() + "\n"); }, kOne, {"success"}},
    {"written by another host", kOne,
     [](const fs::path& log, const std::string&) { edit_records(log, [](json& r) { r["host"] = "elsewhere"; }); },
     kOne, {"success"}},
    {"no serial", "devices=1,version=50", nullptr, "devices=1,version=50", {"success"}},
    {"a serial two units share now", kOne, nullptr, "devices=2,version=50,serial=A1", {"success", "success"}},
    {"switched off and on while the station was down", kOne, nullptr, "devices=1,version=57,serial=A1", {"skipped"}},
    {"reports another version than before its write", kOne, nullptr, "devices=1,version=40,serial=A1", {"success"}},
    {"garbage, a huge line and a torn last line", kOne,
     [](const fs::path& log, const std::string& host) {
         const json huge = {{"record", "start"}, {"host", host}, {"serial", "A1"},
                            {"pad", std::string(station::kMaxRecordBytes, 'x')}};
         append(log, "not json\n\xff\xfe{\"record\":\n{}\n[1,2]\n\n" + huge.dump() + "\n");
         // Whole as JSON, but without its line end: torn before the end, so no record.
         append(log, json{{"record", "start"}, {"host", host}, {"serial", "A1"}}.dump());
     },
     kOne, {"written before"}},
    {"rotated away (LOG.1), the log not there yet", kOne,
     [](const fs::path& log, const std::string&) { fs::rename(log, log.string() + ".1"); }, kOne, {"written before"}},
    {"further back than the bound", kOne,
     [](const fs::path& log, const std::string&) {
         std::string filler;
         while (filler.size() <= station::kRecallBytes) filler += "{\"record\":\"filler\"}\n";
         append(log, filler);
     },
     kOne, {"success"}},
};

TEST(Restart, AUnitWrittenBeforeARestartIsNotWrittenAgainUntilItHasLeft) {
    const fs::path dir = fresh_dir("restart");
    int index = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const fs::path log = dir / ("bench" + std::to_string(index++) + ".jsonl");
        const Outcome first = shift(log, c.before);
        ASSERT_EQ(first.code, 0) << first.out << first.err;
        const json written = json::parse(lines_of(log).back());
        ASSERT_EQ(written["result"], "success");
        const std::string written_at = local_clock_text(*station::utc_seconds(written["time"].get<std::string>()));
        if (c.between) c.between(log, written["host"]);
        const std::size_t kept = fs::exists(log) ? lines_of(log).size() : 0;
        const Outcome again = shift(log, c.after);
        EXPECT_EQ(again.code, 0) << again.out << again.err;
        std::vector<std::string> results;
        const auto lines = lines_of(log);
        for (std::size_t i = kept; i < lines.size(); ++i) {
            const json record = json::parse(lines[i], nullptr, false);
            if (record.is_object() && record.value("record", "") == "result") results.push_back(result_of(record, written_at));
        }
        EXPECT_EQ(results, c.results) << again.out;
    }
    fs::remove_all(dir);
}

TEST(Restart, RecordTimesAreReadAsUtcOrNotAtAll) {
    const std::pair<const char*, std::optional<std::int64_t>> kTimes[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2026-12-08T04:33:42Z", 1796704422},
        {"2024-02-29T23:59:59Z", 1709251199},
        {"2023-02-29T00:00:00Z", std::nullopt},  // no such day
        {"2026-13-01T00:00:00Z", std::nullopt},
        {"2026-12-08T24:00:00Z", std::nullopt},
        {"2026-12-08T04:33:42", std::nullopt},
        {"2026-12-08 04:33:42Z", std::nullopt},
        {"2026-12-08T04:3x:42Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, seconds] : kTimes) EXPECT_EQ(station::utc_seconds(text), seconds) << text;
}

#ifndef _WIN32
// Records appended from several threads while the file is renamed and opened
// anew, again and again: each record whole, in exactly one of the files.
TEST(Restart, OpeningTheLogAnewSplitsAndLosesNoRecord) {
    const fs::path dir = fresh_dir("reopen");
    const fs::path log = dir / "bench.jsonl";
    constexpr int kWriters = 4, kRecords = 400, kRotations = 25;
    station::LogFile file(log.string());
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int writer = 0; writer < kWriters; ++writer) {
        writers.emplace_back([&, writer] {
            std::string error;
            for (int n = 0; n < kRecords; ++n) {
                const json record = {{"writer", writer}, {"n", n}, {"pad", std::string(static_cast<std::size_t>(n % 97) * 40, 'p')}};
                if (!file.append(record.dump(), error)) ++failures;
            }
        });
    }
    for (int rotation = 1; rotation <= kRotations; ++rotation) {
        fs::rename(log, dir / ("bench.jsonl." + std::to_string(rotation)));
        std::string error;
        EXPECT_TRUE(file.reopen(error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(failures.load(), 0);
    std::map<std::pair<int, int>, int> seen;
    int files_with_records = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const auto lines = lines_of(entry.path());
        files_with_records += lines.empty() ? 0 : 1;
        for (const std::string& line : lines) {
            const json record = json::parse(line, nullptr, false);
            ASSERT_TRUE(record.is_object()) << entry.path() << ": " << line.substr(0, 80);
            ++seen[{record["writer"].get<int>(), record["n"].get<int>()}];
        }
    }
    EXPECT_EQ(seen.size(), std::size_t{kWriters * kRecords});
    for (const auto& [id, copies] : seen) EXPECT_EQ(copies, 1) << id.first << "/" << id.second;
    EXPECT_GT(files_with_records, 1);
    fs::remove_all(dir);
}

// Two units being written (busy reads stretch each write to seconds) and a
// third arriving later, when logrotate renames the log and sends SIGUSR1.
TEST(Restart, SigusrOneMovesTheLogToANewFileMidShift) {
    const fs::path dir = fresh_dir("sigusr1");
    const fs::path log = dir / "bench.jsonl", rotated = dir / "bench.jsonl.1";
    auto [pid, fd] = spawn({"upgrade", "--watch", "--log", log.string(), "--simulate=devices=3,busy=4,version=50,2:arrive-at=2500"});
    ASSERT_GT(pid, 0);
    std::string seen = read_until(fd, "sim:1 progress");
    fs::rename(log, rotated);
    kill(pid, SIGUSR1);
    seen += read_until(fd, "\x01");  // to the end
    close(fd);
    EXPECT_EQ(exit_status(pid), 0) << seen;
    EXPECT_TRUE(contains(seen, "the log file " + log.string() + " opened anew")) << seen;
    EXPECT_TRUE(contains(seen, "3 units: 3 written")) << seen;
    // Every record whole and in exactly one file; the starts before the
    // signal in the renamed file, every result after it in the new one.
    std::map<std::string, std::string> where;
    for (const auto& [file, name] : {std::pair{rotated, "rotated"}, std::pair{log, "new"}}) {
        for (const std::string& line : lines_of(file)) {
            const json record = json::parse(line, nullptr, false);
            ASSERT_TRUE(record.is_object()) << name << ": " << line;
            const std::string id = record["path"].get<std::string>() + " " + record["record"].get<std::string>();
            EXPECT_TRUE(where.emplace(id, name).second) << id << " twice";
        }
    }
    const std::map<std::string, std::string> expected{
        {"sim:0 start", "rotated"}, {"sim:1 start", "rotated"}, {"sim:2 start", "new"},
        {"sim:0 result", "new"},    {"sim:1 result", "new"},    {"sim:2 result", "new"},
    };
    EXPECT_EQ(where, expected);
    fs::remove_all(dir);
}
#endif

}  // namespace
}  // namespace wxr::cli
