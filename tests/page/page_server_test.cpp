// --serve from inside: what it refuses before any unit is touched, whose
// Host it answers, and viewers following a station while it writes (the
// threads' test under the sanitizers). Real clients: serve_test.py.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <httplib.h>

#include "app/page/page_server.h"
#include "device/steady_clock.h"
#include "tests/cli/cli_run.h"

namespace wxr::page {
using namespace wxr::cli;

namespace {

std::string file_with(const std::string& name, const std::string& text) {
    auto path = std::filesystem::temp_directory_path() / ("wxr7305_serve_" + name);
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
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
        {"10.0.0.7:8730", {"0.0.0.0", 8730}, true},
        {"station-3:8730", {"0.0.0.0", 8730}, true},
        {"station-3.line.example:8730", {"0.0.0.0", 8730}, true},
        {"station-30:8730", {"0.0.0.0", 8730}, false},
        {"attacker.example:8730", {"0.0.0.0", 8730}, false},
        {"", {"0.0.0.0", 8730}, false},
        {"[::1:8730", {"::1", 8730}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(host_allowed(c.host_header, c.address, c.address.port, "Station-3"), c.allowed) << c.host_header;
    }
}

TEST(CliServe, MetricsLabelsCarryAnyPortNameEscaped) {
    BenchSnapshot snapshot;
    auto counts = std::make_shared<BenchCounts>();
    counts->units[{"success", "TQ16", "Bench \"A\" \\ 1"}] = 3;
    snapshot.counts = counts;
    EXPECT_TRUE(contains(metrics_text(snapshot),
                         "wxr7305_units_total{result=\"success\",model=\"TQ16\",port=\"Bench \\\"A\\\" \\\\ 1\"} 3\n"));
}

// Viewers follow a station on the real clock while it writes; every unit is
// still written, and the last event each gets is the station's end.
TEST(CliServe, ViewersFollowAStationWhileItWrites) {
    const int port = free_port();
    std::atomic<bool> done{false};
    std::vector<std::string> last(2);  // what each follower of the events got last
    auto follow = [&](std::size_t i) {
        httplib::Client client("127.0.0.1", port);
        client.set_connection_timeout(5);
        while (!done) {
            client.Get("/events", [&](const char* data, std::size_t size) {
                last[i].assign(data, size);
                return true;
            });
        }
    };
    auto ask = [&](const char* path) {
        httplib::Client client("127.0.0.1", port);
        client.set_connection_timeout(5);
        while (!done) client.Get(path);
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
