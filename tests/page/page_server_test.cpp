// --serve from inside: what it refuses before any unit is touched, whose
// Host it answers, and viewers following a station while it writes (the
// threads' test under the sanitizers). Real clients: serve_test.py.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <thread>

#include <boost/asio.hpp>
#include <nlohmann/json.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "app/page/page_assets.h"
#include "app/page/page_guests.h"
#include "app/page/page_server.h"
#include "station/utf8_text.h"
#include "device/steady_clock.h"
#include "tests/cli/cli_run.h"

namespace wxr::page {
using namespace wxr::cli;

namespace {

// A folder of its own for each run, gone at its end: builds side by side run these tests at once.
struct RunFolder {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("wxr7305_serve_" + std::to_string(std::random_device{}()));
    RunFolder() { std::filesystem::create_directories(path); }
    ~RunFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

std::string file_with(const std::string& name, const std::string& text) {
    static RunFolder folder;
    auto path = folder.path / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

namespace net = boost::asio;
namespace http = boost::beast::http;

// One GET; each piece of the body to `piece` as it comes. False when it failed.
bool get(int port, const std::string& path, const std::function<void(std::string_view)>& piece = {}) {
    try {
        net::io_context io;
        net::ip::tcp::socket socket(io);
        socket.connect({net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        http::request<http::empty_body> req(http::verb::get, path, 11);
        req.set(http::field::host, "127.0.0.1:" + std::to_string(port));
        http::write(socket, req);
        boost::beast::flat_buffer buffer;
        http::response_parser<http::buffer_body> res;
        // Not boost::none: Beast 1.74 compares the length with it and refuses every body.
        res.body_limit(std::numeric_limits<std::uint64_t>::max());
        http::read_header(socket, buffer, res);
        char data[4096];
        while (!res.is_done()) {
            res.get().body().data = data;
            res.get().body().size = sizeof data;
            boost::system::error_code ec;
            http::read(socket, buffer, res, ec);
            if (ec && ec != http::error::need_buffer) return ec == http::error::end_of_stream;
            if (piece) piece(std::string_view(data, sizeof data - res.get().body().size));
        }
        return true;
    } catch (const boost::system::system_error&) {
        return false;
    }
}

// A port no one listens on now: one the system gave a server that has ended.
int free_port() {
    SteadyClock clock;
    std::string why;
    return PageServer::start({"127.0.0.1", 0}, std::make_shared<BenchBoard>(BenchImages{}, PortNames{}, clock), why)
        ->port();
}

TEST(CliServe, RefusedBeforeAnyUnitIsTouched) {
    SteadyClock clock;
    std::string why;
    auto taken = PageServer::start({"127.0.0.1", 0}, std::make_shared<BenchBoard>(BenchImages{}, PortNames{}, clock), why);
    ASSERT_TRUE(taken) << why;
    const std::string in_use = "127.0.0.1:" + std::to_string(taken->port());
    const std::string log = file_with("log.jsonl", "");
    struct Case {
        std::vector<std::string> words;
        std::string says;
    } cases[] = {
        {{"--serve", "1.2.3"}, "--serve needs HOST:PORT, [IPV6]:PORT or PORT, not '1.2.3'"},
        {{"--serve", "1.2.3:80"}, "--serve: '1.2.3' is not an IP address"},
        {{"--serve", "station.example:8730"}, "is not an IP address"},
        {{"--serve", "127.0.0.010:8730"}, "'127.0.0.010' is not an IP address"},  // octal to some
        {{"--serve", "00.0.0.0:8730"}, "'00.0.0.0' is not an IP address"},
        {{"--serve=127.0.0.1:65536"}, "--serve needs HOST:PORT"},
        // Read without --serve too: the terminal names the rows by them.
        {{"--port-names", file_with("f", "nothing here\n")}, "line 1: expected LOCATION = LABEL"},
        {{"--serve", in_use}, "cannot serve the page at " + in_use + ": the port is in use"},
        {{"--serve", "0", "--port-names", file_with("a", "x = 1\nnothing here\n")}, "line 2: expected LOCATION = LABEL"},
        {{"--serve", "0", "--port-names", file_with("b", "x = 1\nx = 2\n")}, "line 2: location x is named twice"},
        {{"--serve", "0", "--port-names", file_with("c", "x = Port 1\ny = Port 1\n")}, "label Port 1 is given twice"},
        {{"--serve", "0", "--port-names", file_with("d", "x = " + std::string(41, 'a'))}, "longer than 40 bytes"},
        {{"--serve", "0", "--port-names", file_with("e", "x = a\x1b[2Jb")}, "control characters"},
        {{"--serve", "0", "--port-names", "/nonexistent/ports"}, "cannot read the port names file"},
        {{"--serve", "0", "--port-names", file_with("g", "x = Caf\xe9 1\n")}, "line 1: not UTF-8 text (save the file as UTF-8)"},
        {{"--serve", "0", "--port-names", log, "--log", log}, "is the port names file"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"upgrade", "--all", "--simulate=devices=2", "--virtual-time"};
        args.insert(args.end(), c.words.begin(), c.words.end());
        Outcome outcome = wxr7305(args);
        EXPECT_EQ(outcome.code, kExitOther) << c.says;
        EXPECT_TRUE(contains(outcome.err, c.says)) << outcome.err;
        EXPECT_EQ(outcome.out, "") << c.says;  // no unit was written
    }
}

TEST(CliServe, AnswersOnlyToItsOwnName) {
    struct Case {
        std::string host_header;
        ServeAddress address;
        bool allowed;
    } cases[] = {
        {"127.0.0.1:8730", {"127.0.0.1", 8730}, true},
        {"localhost:8730", {"127.0.0.1", 8730}, true},
        {"LOCALHOST:8730", {"127.0.0.1", 8730}, true},
        {"127.0.0.1:8731", {"127.0.0.1", 8730}, false},
        {"127.0.0.1", {"127.0.0.1", 8730}, false},
        {"127.0.0.1", {"127.0.0.1", 80}, true},
        {"attacker.example:8730", {"127.0.0.1", 8730}, false},  // a name rebound to the loopback address
        {"[::1]:8730", {"::1", 8730}, true},
        {"192.168.1.20:8730", {"192.168.1.20", 8730}, true},
        {"localhost:8730", {"192.168.1.20", 8730}, false},
        {"station-3:8730", {"0.0.0.0", 8730}, true},
        {"localhost:8730", {"::", 8730}, true},
        {"0.0.0.0:8730", {"0.0.0.0", 8730}, true},  // the address served, as given to --serve
        // On every address: exactly the machine's own addresses, in any spelling.
        {"10.0.0.7:8730", {"0.0.0.0", 8730}, true},
        {"127.0.0.1:8730", {"0.0.0.0", 8730}, true},
        {"[::1]:8730", {"::", 8730}, true},
        {"[fe80::1]:8730", {"::", 8730}, true},
        {"[FE80:0:0::1]:8730", {"0.0.0.0", 8730}, true},
        {"[2001:db8:0:0:0:0:0:5]:8730", {"::", 8730}, true},
        {"10.0.0.8:8730", {"0.0.0.0", 8730}, false},  // another machine's address
        {"127.0.0.2:8730", {"0.0.0.0", 8730}, false},
        {"[2001:db8::6]:8730", {"::", 8730}, false},
        {"[fe80::1%25eth0]:8730", {"::", 8730}, false},
        {"010.0.0.7:8730", {"0.0.0.0", 8730}, false},  // octal to some readers
        {"10.0.0.7:8731", {"0.0.0.0", 8730}, false},
        {"10.0.0.7.evil.example:8730", {"0.0.0.0", 8730}, false},
        {"station-3.:8730", {"0.0.0.0", 8730}, false},
        {"station-3.line.example:8730", {"0.0.0.0", 8730}, false},
        {"station-3.evil.example:8730", {"0.0.0.0", 8730}, false},  // DNS rebinding by a longer name
        {"station-30:8730", {"0.0.0.0", 8730}, false},
        {"attacker.example:8730", {"0.0.0.0", 8730}, false},
        {"", {"0.0.0.0", 8730}, false},
        {"[::1:8730", {"::1", 8730}, false},
    };
    // As the system would list them; the rule must not depend on the machine the test runs on.
    const MachineNames machine{"Station-3", {"127.0.0.1", "10.0.0.7", "::1", "fe80::1", "2001:db8::5"}};
    for (const Case& c : cases) {
        EXPECT_EQ(host_allowed(c.host_header, c.address, c.address.port, machine), c.allowed)
            << c.host_header << " on " << c.address.host;
    }
    // A machine whose name and addresses are unknown answers to localhost alone.
    EXPECT_TRUE(host_allowed("localhost:8730", {"0.0.0.0", 8730}, 8730, {}));
    EXPECT_FALSE(host_allowed("10.0.0.7:8730", {"0.0.0.0", 8730}, 8730, {}));
}

TEST(CliServe, MetricsLabelsCarryAnyPortNameEscaped) {
    BenchSnapshot snapshot;
    auto counts = std::make_shared<BenchCounts>();
    counts->units[{"success", "TQ16", "Bench \"A\" \\ 1"}] = 3;
    snapshot.counts = counts;
    EXPECT_TRUE(contains(metrics_text(snapshot),
                         "wxr7305_units_total{result=\"success\",model=\"TQ16\",port=\"Bench \\\"A\\\" \\\\ 1\"} 3\n"));
}

// --publish's line: in status.json only when given, and a change of the
// link alone is a new snapshot (the page would show a stale link).
TEST(CliServe, TheLinkLineIsShownOnlyWithPublishAndFollowsTheLink) {
    SteadyClock clock;
    BenchBoard board(BenchImages{}, PortNames{}, clock);
    const auto link_of = [](const BenchSnapshot& s) { return nlohmann::json::parse(s.as_json())["station"]["link"]; };
    board.refresh(VisitTable{}, StationStatus{});
    EXPECT_TRUE(link_of(*board.snapshot()).is_null());
    LinkView view{"not sent for 12 min: broker unreachable", false};
    board.add_link([&view] { return view; });
    for (const bool sent : {false, true}) {
        view = sent ? LinkView{"records sent", true} : view;
        const auto before = board.snapshot()->version;
        board.refresh(VisitTable{}, StationStatus{});
        const auto snapshot = board.snapshot();
        EXPECT_GT(snapshot->version, before);
        EXPECT_EQ(link_of(*snapshot), (nlohmann::json{{"text", view.text}, {"sent", sent}}));
    }
}

// Viewers follow a station on the real clock while it writes; every unit is
// still written, and the last event each gets is the station's end.
TEST(CliServe, ViewersFollowAStationWhileItWrites) {
    const int port = free_port();
    std::atomic<bool> done{false};
    std::vector<std::string> last(2);  // what each follower of the events got last
    auto follow = [&](std::size_t i) {
        while (!done) {
            std::string stream;
            get(port, "/events", [&](std::string_view piece) { stream += piece; });
            if (auto at = stream.rfind("data: "); at != std::string::npos) last[i] = stream.substr(at);
        }
    };
    auto ask = [&](const char* path) {
        while (!done) get(port, path);
    };
    std::vector<std::thread> viewers;
    viewers.emplace_back(follow, 0);
    viewers.emplace_back(follow, 1);
    viewers.emplace_back(ask, "/status.json");
    viewers.emplace_back(ask, "/metrics");
    Outcome outcome = wxr7305({"upgrade", "--all", "--json", "--serve", std::to_string(port),
                               "--simulate=devices=3,busy=0,1:silent-after=2000"});
    done = true;
    for (std::thread& viewer : viewers) viewer.join();
    EXPECT_EQ(outcome.code, kExitUpgradeFailed) << outcome.err;
    EXPECT_TRUE(contains(outcome.out, "\"success\":2,")) << outcome.out;
    for (const std::string& event : last) {
        EXPECT_TRUE(event.empty() || contains(event, "\"state\":\"ended\"")) << event;
    }
}

}  // namespace
}  // namespace wxr::page

namespace wxr::page {
namespace {

// What the server answers to `data`, read until it closes (a reset ends it too).
std::string exchange(int port, const std::string& data) {
    net::io_context io;
    net::ip::tcp::socket socket(io);
    socket.connect({net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
    boost::system::error_code ec;
    net::write(socket, net::buffer(data), ec);
    std::string reply;
    char chunk[4096];
    while (!ec) reply.append(chunk, socket.read_some(net::buffer(chunk), ec));
    return reply;
}

TEST(CliServe, AnswersOnlyWhatItServesWithinFixedBounds) {
    SteadyClock clock;
    std::string why;
    auto server = PageServer::start({"127.0.0.1", 0}, std::make_shared<BenchBoard>(BenchImages{}, PortNames{}, clock), why);
    ASSERT_TRUE(server) << why;
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
    auto request = [&](const std::string& line, const std::string& headers = "") {
        return line + " HTTP/1.1\r\n" + host + headers + "\r\n";
    };
    std::string many_ranges = "Range: bytes=0-";
    while (many_ranges.size() < 7000) many_ranges += ",0-";
    std::string many_headers;
    while (many_headers.size() < 64 * 1024) many_headers += "X: y\r\n";
    struct Case {
        std::string name, data, status;
    } cases[] = {
        {"the page", request("GET /"), "HTTP/1.1 200 "},
        {"with a query", request("GET /status.json?x=1"), "HTTP/1.1 200 "},
        {"not a route", request("GET /statusXjson"), "HTTP/1.1 404 "},
        {"a longer path", request("GET /status.json/x"), "HTTP/1.1 404 "},
        {"a traversal", request("GET /../page.css"), "HTTP/1.1 404 "},
        {"a write", request("PUT /status.json"), "HTTP/1.1 405 "},
        {"two Hosts", request("GET /", host), "HTTP/1.1 403 "},
        {"a 7 KB Range: the whole body", request("GET /page.js", many_ranges + "\r\n"), "HTTP/1.1 200 "},
        {"64 KiB of short headers", request("GET /", many_headers), "HTTP/1.1 431 "},
        {"a 64 KiB request line", request("GET /" + std::string(65536, 'a')), "HTTP/1.1 431 "},
        {"not HTTP", "\x16\x03\x01 hello\r\n\r\n", "HTTP/1.1 400 "},
    };
    for (const Case& c : cases) {
        const std::string reply = exchange(server->port(), c.data);
        // A refusal of what was not read may be overtaken by a reset: then nothing came.
        const bool refused_early = c.status != "HTTP/1.1 200 " && reply.empty();
        EXPECT_TRUE(reply.rfind(c.status, 0) == 0 || refused_early) << c.name << ": " << reply.substr(0, 40);
        EXPECT_FALSE(contains(reply, "multipart")) << c.name;
    }
    EXPECT_TRUE(contains(exchange(server->port(), request("GET /page.js", many_ranges + "\r\n")), std::string(kPageJs)));
}

// A --watch station's failed log shows until its end, and the scraper that
// followed it gets one more scrape once it has ended; the server waits for it
// (for a scraper whose next scrape is due: one never seen again is not waited for).
TEST(CliServe, AWatchStationsEndIsScrapedOnceMore) {
    SteadyClock clock;
    auto board = std::make_shared<BenchBoard>(BenchImages{}, PortNames{}, clock);
    std::string why;
    auto server = PageServer::start({"127.0.0.1", 0}, board, why);
    ASSERT_TRUE(server) << why;
    const int port = server->port();
    auto metrics = [&] {
        std::string text;
        EXPECT_TRUE(get(port, "/metrics", [&](std::string_view piece) { text += piece; }));
        return text;
    };
    StationStatus status;
    status.watching = true;
    board->refresh(VisitTable{}, status);
    EXPECT_TRUE(contains(metrics(), "wxr7305_log_failing 0\n"));
    metrics();  // a scraper at a steady pace: its next scrape is due now
    status.watching = false;
    status.log_failed = true;
    board->refresh(VisitTable{}, status);
    status.log_failed = false;  // however a later state tells it
    status.ended = true;
    board->finished(status);
    std::thread ending([&] { server.reset(); });
    // Past the end and the viewers' flush (there are none): only the wait for the scraper keeps it serving.
    constexpr int kPollsForTheEnd = 5000;
    for (int i = 0; i < kPollsForTheEnd && !board->closed(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string last = metrics();
    ending.join();
    EXPECT_TRUE(contains(last, "wxr7305_log_failing 1\n")) << last;
}

// Who is let go for a newcomer: the oldest request from its address, then
// the oldest of all; a viewer's slot from the oldest stalled viewer.
TEST(CliServe, NewcomersGetInByDroppingTheOldest) {
    using Ids = std::vector<std::uint64_t>;
    PageGuests guests({3, 2, 2});
    EXPECT_EQ(guests.arrive(1, "a"), Ids{});
    EXPECT_EQ(guests.arrive(2, "a"), Ids{});
    EXPECT_EQ(guests.arrive(3, "a"), Ids{1});  // two per address
    EXPECT_EQ(guests.arrive(4, "b"), Ids{});
    guests.answered(2);
    EXPECT_EQ(guests.arrive(5, "c"), Ids{3});  // three in all: one still sending goes before one answered
    EXPECT_EQ(guests.follow(4), std::nullopt);
    EXPECT_EQ(guests.follow(5), std::nullopt);
    EXPECT_EQ(guests.arrive(6, "d"), Ids{});  // viewers are not requests
    guests.draining(5, true);
    EXPECT_EQ(guests.follow(6), std::optional<std::uint64_t>(5));  // the stalled one, though newer
    EXPECT_EQ(guests.arrive(7, "e"), Ids{});
    EXPECT_EQ(guests.follow(7), std::optional<std::uint64_t>(4));  // none stalled: the oldest
    EXPECT_EQ(guests.size(), 3u);  // 2 (answered), 6 and 7 following
}

}  // namespace
}  // namespace wxr::page

namespace wxr::page {
namespace {

// Prometheus drops a whole scrape over one label that is not UTF-8.
TEST(CliServe, LabelsAreUtf8WhateverTheNamesGiven) {
    struct Case {
        std::string text;
        bool valid;
        std::string shown;
    } cases[] = {
        {"Caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x94\x8c", true, "Caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x94\x8c"},
        {"Caf\xe9", false, "Caf\xef\xbf\xbd"},                       // Latin-1
        {"\xc0\x80", false, "\xef\xbf\xbd\xef\xbf\xbd"},         // an overlong NUL
        {"\xed\xa0\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate
        {"\xf4\x90\x80\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // past U+10FFFF
        {"a\xe2\x82", false, "a\xef\xbf\xbd\xef\xbf\xbd"},       // cut short
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_utf8(c.text), c.valid) << c.text;
        EXPECT_EQ(as_utf8(c.text), c.shown) << c.text;
    }
    BenchSnapshot snapshot;
    snapshot.counts = std::make_shared<BenchCounts>();
    snapshot.firmware.push_back({});
    snapshot.firmware.back().file = "fw-\xe9t\xe9.bin";
    EXPECT_TRUE(contains(metrics_text(snapshot), "file=\"fw-\xef\xbf\xbdt\xef\xbf\xbd.bin\"")) << metrics_text(snapshot);
}

}  // namespace
}  // namespace wxr::cli
