#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#ifndef _WIN32
#include <signal.h>
#endif

#include "app/cli/stop_request.h"
#include "tests/cli/cli_process.h"

namespace wxr::cli {
namespace {

// What each request to stop does, by the state it finds.
TEST(Stop, EachSignalActsByTheStateItFinds) {
    constexpr auto I = StopSignal::Interrupt, T = StopSignal::Terminate;
    struct Case {
        bool armed;
        bool writing;
        std::vector<StopSignal> signals;
        StopAction last;
        bool requested;
        bool leave_now;
    } cases[] = {
        {false, false, {I}, StopAction::Default, false, false},
        {false, true, {T}, StopAction::Default, false, false},
        {true, true, {I}, StopAction::Handled, true, false},
        {true, true, {T}, StopAction::Handled, true, false},
        {true, true, {I, I}, StopAction::LeaveAtOnce, true, true},
        {true, false, {I, I}, StopAction::Handled, true, true},
        // The system asks again and again: never the second press.
        {true, true, {T, T, T}, StopAction::Handled, true, false},
        {true, true, {I, T}, StopAction::Handled, true, false},
        // Someone at the terminal after a SIGTERM: theirs is the second press.
        {true, true, {T, I}, StopAction::LeaveAtOnce, true, true},
    };
    for (const Case& c : cases) {
        StopRequest stop;
        stop.arm(c.armed);
        if (c.writing) {
            ASSERT_TRUE(stop.begin_write());
        }
        StopAction last = StopAction::Default;
        for (StopSignal s : c.signals) last = on_stop_signal(stop, s);
        std::string name = std::to_string(c.signals.size()) + (c.armed ? " armed" : " unarmed");
        EXPECT_EQ(last, c.last) << name;
        EXPECT_EQ(stop.requested(), c.requested) << name;
        EXPECT_EQ(stop.leave_now(), c.leave_now) << name;
    }
}

#ifndef _WIN32
std::filesystem::path temp_log(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("wxr7305_stop_test_" + name + ".log");
}

// SIGTERM (systemd, kill, a shutdown) and SIGHUP (a closed terminal) while
// two units are written, with a third plugged in a moment later: the two
// finish, each on disk in the log, the third is never started, and the
// station exits with the results.
TEST(Stop, TheSystemsRequestLetsRunningWritesEndAndStartsNoOther) {
    struct Running {
        int signal;
        std::filesystem::path log;
        pid_t pid = -1;
        int fd = -1;
    };
    std::vector<Running> runs{{SIGTERM, temp_log("sigterm")}, {SIGHUP, temp_log("sighup")}};
    // Busy reads stretch each write to seconds; the third unit arrives well
    // after the signal and well before the writes end.
    for (Running& run : runs) {
        std::filesystem::remove(run.log);
        std::tie(run.pid, run.fd) = spawn({"upgrade", "--watch", "--log", run.log.string(),
                                           "--simulate=devices=3,busy=4,version=50,2:arrive-at=2500"});
        ASSERT_GT(run.pid, 0);
    }
    for (Running& run : runs) {
        // Both are being written once each has shown progress.
        std::string seen = read_until(run.fd, "sim:1 progress");
        if (!contains(seen, "sim:0 progress")) read_until(run.fd, "sim:0 progress");
        kill(run.pid, run.signal);
    }
    for (Running& run : runs) {
        std::string rest = read_until(run.fd, "\x01");  // to the end
        close(run.fd);
        EXPECT_EQ(exit_status(run.pid), 0) << rest;
        EXPECT_TRUE(contains(rest, "stopping once the devices being written are done")) << rest;
        EXPECT_TRUE(contains(rest, "2 devices: 2 succeeded")) << rest;
        EXPECT_FALSE(contains(rest, "sim:2")) << rest;
        std::istringstream records(file_text(run.log));
        std::set<std::string> written;
        for (std::string line; std::getline(records, line);) {
            auto record = nlohmann::json::parse(line);
            EXPECT_EQ(record["result"], "success") << line;
            EXPECT_EQ(record["simulated_flash_equals_image"], true) << line;
            written.insert(record["path"].get<std::string>());
        }
        EXPECT_EQ(written, (std::set<std::string>{"sim:0", "sim:1"}));
        std::filesystem::remove(run.log);
    }
}
#endif

}  // namespace
}  // namespace wxr::cli
