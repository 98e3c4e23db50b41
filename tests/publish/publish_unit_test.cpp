#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/publish/publish_url.h"
#include "app/publish/publisher.h"
#include "app/publish/record_message.h"
#include "app/publish/publish_os.h"
#include "app/publish/spool_file.h"

namespace wxr::publish {
namespace {

namespace fs = std::filesystem;

class SpoolFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("publish-unit-") + test->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        log_ = (dir_ / "station.jsonl").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void append(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::app | std::ios::binary) << text;
    }

    fs::path dir_;
    std::string log_;
};

TEST_F(SpoolFiles, CursorIsReplacedWholeAndBadOnesReadAsNone) {
    const std::string path = cursor_path(log_);
    EXPECT_EQ(path, log_ + ".sent");
    EXPECT_FALSE(read_cursor(path));
    std::string error;
    for (const Cursor cursor : {Cursor{{1, 2}, 0}, Cursor{{~0ULL, 123456789}, 1LL << 40}}) {
        ASSERT_TRUE(write_cursor(path, cursor, cursor.offset == 0, error)) << error;
        EXPECT_EQ(read_cursor(path), cursor);
        EXPECT_FALSE(fs::exists(path + ".tmp"));
    }
    for (const char* bad : {"", "12", "x 1 2", "-5 1 2"}) {
        std::ofstream(path, std::ios::trunc) << bad;
        EXPECT_FALSE(read_cursor(path)) << bad;
    }
    EXPECT_FALSE(write_cursor((dir_ / "no-such-dir" / "x.sent").string(), Cursor{}, true, error));
    EXPECT_NE(error.find("no-such-dir"), std::string::npos) << error;
}

TEST_F(SpoolFiles, WholeLinesOnlyAndTheSameFileAfterARename) {
    append(log_, "{\"a\":1}\n{\"b\":");
    SpoolReader reader(log_);
    auto first = reader.line_at(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text, "{\"a\":1}");
    EXPECT_EQ(first->end, 8);
    EXPECT_FALSE(reader.line_at(first->end)) << "a line without its end is not sent yet";
    // logrotate renames the file; the station goes on appending to it.
    const std::string rotated = log_ + ".1";
    fs::rename(log_, rotated);
    append(rotated, "2}\n");
    auto second = reader.line_at(first->end);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->text, "{\"b\":2}");
    EXPECT_EQ(reader.id(), id_of_path(rotated));
    EXPECT_EQ(reader.size(), second->end);
    EXPECT_FALSE(reader.line_at(second->end));
}

TEST_F(SpoolFiles, LinesAcrossReadsAndOverlongOnesCut) {
    // Lines that straddle the reads' pieces, then one longer than any record.
    std::string text;
    const auto line = [](int i) { return std::string(static_cast<std::size_t>(i % 97), 'x') + std::to_string(i); };
    for (int i = 0; i < 3000; ++i) text += line(i) + "\n";
    const std::string huge(SpoolReader::kMaxLine + 5000, 'h');
    append(log_, text + huge + "\nafter\n");
    SpoolReader reader(log_);
    long long at = 0;
    for (int i = 0; i < 3000; ++i) {
        auto got = reader.line_at(at);
        ASSERT_TRUE(got) << i;
        ASSERT_EQ(got->text, line(i));
        at = got->end;
    }
    auto cut = reader.line_at(at);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->text.size(), SpoolReader::kMaxLine);
    EXPECT_EQ(cut->end, at + static_cast<long long>(huge.size()) + 1);
    auto after = reader.line_at(cut->end);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->text, "after");
    // Read again from an earlier offset (a reconnection sends from the cursor).
    EXPECT_EQ(reader.line_at(0)->text, "0");
}

// The system's side (POSIX natively, Win32 under wine): files told apart by
// identity, a missing log named, the cursor replaced while the log is held open.
TEST_F(SpoolFiles, IdentitiesMissingFilesAndTheCursorBesideAnOpenLog) {
    const std::string other = (dir_ / "other.jsonl").string();
    append(log_, "{\"a\":1}\n");
    append(other, "{\"a\":1}\n");
    ASSERT_TRUE(id_of_path(log_));
    EXPECT_NE(id_of_path(log_), id_of_path(other));
    EXPECT_FALSE(id_of_path(dir_.string())) << "a directory is no log";
    EXPECT_FALSE(id_of_path((dir_ / "none").string()));
    try {
        SpoolReader missing((dir_ / "none").string());
        ADD_FAILURE() << "a missing log was opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("none"), std::string::npos) << e.what();
    }
    SpoolReader reader(log_);
    EXPECT_EQ(reader.id(), id_of_path(log_));
    std::string error;
    for (long long offset : {0LL, 8LL, 8LL}) {
        ASSERT_TRUE(write_cursor(cursor_path(log_), Cursor{reader.id(), offset}, true, error)) << error;
        EXPECT_EQ(read_cursor(cursor_path(log_)), (Cursor{reader.id(), offset}));
    }
    append(log_, "{\"b\":2}\n");
    EXPECT_EQ(reader.size(), 16);
    EXPECT_EQ(reader.line_at(8)->text, "{\"b\":2}");
}

TEST_F(SpoolFiles, RotatedNamesAreTheLogsOwnUncompressed) {
    for (const char* name : {"station.jsonl", "station.jsonl.1", "station.jsonl.2.gz", "station.jsonl.sent",
                             "station.jsonl.sent.tmp", "other.jsonl.1", "station.jsonl-old"}) {
        append((dir_ / name).string(), "x\n");
    }
    const auto names = rotated_names(log_);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(fs::path(names[0]).filename(), "station.jsonl.1");
}

// A log named in UTF-8 beyond ASCII (a Windows user's folder): found, read and
// told apart in the same spelling, natively and under wine.
TEST_F(SpoolFiles, NamesBeyondAsciiAsTheCommandLineGivesThem) {
    const std::string log = os::text_of_path(dir_ / os::path_of_text("\xe7\xab\x99.jsonl"));  // "station"
    for (const std::string& name : {log, log + ".1"}) {
        std::ofstream(os::path_of_text(name), std::ios::binary) << "{\"a\":1}\n";
    }
    ASSERT_EQ(rotated_names(log), std::vector<std::string>{log + ".1"});
    SpoolReader reader(log + ".1");
    EXPECT_EQ(reader.line_at(0)->text, "{\"a\":1}");
    EXPECT_EQ(reader.id(), id_of_path(log + ".1"));
    EXPECT_NE(reader.id(), id_of_path(log));
    std::string error;
    ASSERT_TRUE(write_cursor(cursor_path(log), Cursor{reader.id(), 8}, false, error)) << error;
    EXPECT_EQ(read_cursor(cursor_path(log)), (Cursor{reader.id(), 8}));
    // --publish-auth in the same folder: the user and password, a CRLF file too.
    const std::string auth = os::text_of_path(dir_ / os::path_of_text("\xe7\xab\x99.auth"));
    std::ofstream(os::path_of_text(auth), std::ios::binary) << "line7\r\npa ss\r\n";
    std::string user, password;
    ASSERT_TRUE(read_auth_file(auth, user, password, error)) << error;
    EXPECT_EQ(user + "|" + password, "line7|pa ss");
}

TEST(RecordMessage, IdFromTheRecordAndTheLineSentAsItIs) {
    struct Case {
        const char* line;
        const char* id;  // nullptr: no message
    };
    const Case cases[] = {
        {R"({"record":"start","host":"b7","station_start":"2026-12-09T08:00:00Z","visit":3})",
         "b7@2026-12-09T08:00:00Z/3/start"},
        {R"({"record":"result","station":"f3a9","host":"b7","station_start":"x","visit":12})", "f3a9/12/result"},
        {R"({"record":"result","host":"b\"7","station_start":"s","visit":1,"serial":"\u00e9"})", "b\"7@s/1/result"},
        {R"({"record":"start","host":"b7","station_start":"s"})", nullptr},               // no visit
        {R"({"record":"start","host":"b7","station_start":"s","visit":"1"})", nullptr},  // not a number
        {R"({"record":"start","visit":1})", nullptr},                                   // no station
        {R"({"record":"sta)", nullptr},                                                 // torn by a crash
        {"[1,2]", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const auto message = record_message(c.line);
        if (!c.id) {
            EXPECT_FALSE(message) << c.line;
            continue;
        }
        ASSERT_TRUE(message) << c.line;
        EXPECT_EQ(message->id, c.id);
        const auto payload = nlohmann::json::parse(message->payload);
        EXPECT_EQ(payload["id"], c.id);
        EXPECT_EQ(payload["record"], nlohmann::json::parse(c.line));
        EXPECT_NE(message->payload.find(c.line), std::string::npos) << "the record is not the log's bytes";
    }
}

TEST(RecordMessage, TimeOfTheRecordInUnixSeconds) {
    struct Case {
        const char* line;
        std::optional<long long> time;
    };
    const Case cases[] = {
        {R"({"record":"start","time":"1970-01-01T00:00:00Z"})", 0},
        {R"({"record":"start","time":"2026-12-10T01:52:07Z"})", 1796867527},
        {R"({"record":"start","time":"2024-02-29T23:59:59Z"})", 1709251199},  // a leap day
        {R"({"record":"start","time":"2023-02-29T00:00:00Z"})", std::nullopt},  // no such day
        {R"({"record":"start","time":"2026-12-10T24:00:00Z"})", std::nullopt},
        {R"({"record":"start","time":"2026-12-10 01:52:07Z"})", std::nullopt},
        {R"({"record":"start","time":"2026-12-10T01:52:07"})", std::nullopt},
        {R"({"record":"start","time":"2026-1a-10T01:52:07Z"})", std::nullopt},
        {R"({"record":"start","time":"-026-12-10T01:52:07Z"})", std::nullopt},
        {R"({"record":"start","time":1796867527})", std::nullopt},
        {R"({"record":"start"})", std::nullopt},
        {R"({"record":"sta)", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(record_time(c.line), c.time) << c.line;
    const auto message = record_message(R"({"record":"start","station":"s","visit":1,"time":"1970-01-01T00:01:00Z"})");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->time, 60);
}

// The page's line: sent, sending, or how long the oldest record has waited and why.
TEST(PublishLinkText, SentSendingOrWaitingAndWhy) {
    constexpr long long kNow = 1'000'000;
    struct Case {
        PublishLink link;
        const char* text;
    };
    const Case cases[] = {
        {{true, 0, 0, "", LinkProblem::None, std::nullopt}, "records sent"},
        {{true, 900, 3, "", LinkProblem::None, kNow - 5}, "sending: 3 records left"},
        {{true, 300, 1, "", LinkProblem::None, kNow - 125}, "sending: 1 record left, the oldest from 2 min ago"},
        {{false, 900, 9, "x", LinkProblem::Unreachable, kNow - 12 * 60 - 59},
         "not sent for 12 min: broker unreachable"},
        {{false, 900, 9, "x", LinkProblem::Auth, kNow - 40}, "not sent for 40 s: broker refused (auth)"},
        {{false, 900, 9, "x", LinkProblem::Tls, kNow - 3 * 3600}, "not sent for 3 h: TLS failure"},
        {{false, 900, 9, "x", LinkProblem::Refused, kNow + 30}, "not sent for 0 s: broker refused the connection"},
        {{false, 900, 9, "", LinkProblem::None, kNow - 61}, "not sent for 1 min: connecting"},
        {{false, 900, 2, "x", LinkProblem::Unreachable, std::nullopt}, "2 records not sent: broker unreachable"},
        {{false, 0, 0, "x", LinkProblem::Unreachable, std::nullopt}, "records sent; not connected: broker unreachable"},
    };
    for (const Case& c : cases) EXPECT_EQ(link_text(c.link, kNow), c.text);
}

TEST(BrokerUrl, SchemesHostsAndPorts) {
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused
        int port;
        bool tls;
    };
    const Case cases[] = {
        {"mqtt://broker.line", "broker.line", 1883, false},
        {"mqtt://10.0.0.5:1884", "10.0.0.5", 1884, false},
        {"mqtts://broker.line", "broker.line", 8883, true},
        {"mqtts://broker.line:9883/", "broker.line", 9883, true},
        {"mqtt://[::1]", "::1", 1883, false},
        {"mqtt://[fe80::1]:2000", "fe80::1", 2000, false},
        {"http://broker", nullptr, 0, false},
        {"mqtt://", nullptr, 0, false},
        {"mqtt://:1883", nullptr, 0, false},
        {"mqtt://h:0", nullptr, 0, false},
        {"mqtt://h:65536", nullptr, 0, false},
        {"mqtt://h:12x", nullptr, 0, false},
        {"mqtt://h:", nullptr, 0, false},
        {"mqtt://user@h", nullptr, 0, false},
        {"mqtt://h/path", nullptr, 0, false},
        {"mqtt://[::1", nullptr, 0, false},
        {"mqtt://[::1]x", nullptr, 0, false},
    };
    for (const Case& c : cases) {
        const auto parsed = parse_broker_url(c.text);
        if (!c.host) {
            EXPECT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<BrokerUrl>(parsed)) << c.text << ": " << std::get<std::string>(parsed);
        const auto& url = std::get<BrokerUrl>(parsed);
        EXPECT_EQ(url.host, c.host) << c.text;
        EXPECT_EQ(url.port, c.port) << c.text;
        EXPECT_EQ(url.tls, c.tls) << c.text;
    }
}

}  // namespace
}  // namespace wxr::publish
