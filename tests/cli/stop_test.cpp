#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <fstream>
#include <set>
#include <sstream>

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <signal.h>
#endif

#include "app/cli/stop_request.h"
#include "tests/cli/cli_process.h"
#include "tests/cli/cli_run.h"

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
#else
// Windows raises a console close, log-off or shutdown in a process by
// starting a thread of its own there at kernelbase's CtrlRoutine; this test
// does the same. (Wine raises none: closing a wine console window ends its
// processes without any event.) The process is then held until the running
// writes have ended and been logged, and ends by itself.
TEST(Stop, AConsoleCloseLetsRunningWritesEndAndStartsNoOther) {
    auto ctrl_routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
    ASSERT_NE(ctrl_routine, nullptr);
    const std::string log = "wxr7305_stop_test_close.log";
    DeleteFileA(log.c_str());
    std::string program = WXR7305_PROGRAM;
    if (program.front() == '/') program = "Z:" + program;  // the build tree, seen from wine
    std::string command = "\"" + program + "\" upgrade --watch --log " + log +
                          " --simulate=devices=3,busy=4,version=50,2:arrive-at=2500";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write_end;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child));
    CloseHandle(write_end);
    std::string seen;
    auto read_more = [&] {
        char buffer[256];
        DWORD got = 0;
        if (!ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
        seen.append(buffer, got);
        return true;
    };
    while (!(contains(seen, "sim:0 progress") && contains(seen, "sim:1 progress")) && read_more()) {
    }
    HANDLE event = CreateRemoteThread(child.hProcess, nullptr, 0, ctrl_routine,
                                      reinterpret_cast<void*>(static_cast<ULONG_PTR>(CTRL_CLOSE_EVENT)), 0, nullptr);
    ASSERT_NE(event, nullptr);
    while (read_more()) {
    }
    // Bounds a hung test only: the process ends as soon as its writes have.
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    for (HANDLE h : {event, child.hProcess, child.hThread, read_end}) CloseHandle(h);
    EXPECT_EQ(code, 0u) << seen;
    EXPECT_TRUE(contains(seen, "2 devices: 2 succeeded")) << seen;
    EXPECT_FALSE(contains(seen, "sim:2")) << seen;
    std::ifstream records(log);
    std::set<std::string> written;
    for (std::string line; std::getline(records, line);) {
        auto record = nlohmann::json::parse(line);
        EXPECT_EQ(record["result"], "success") << line;
        written.insert(record["path"].get<std::string>());
    }
    EXPECT_EQ(written, (std::set<std::string>{"sim:0", "sim:1"}));
    records.close();
    DeleteFileA(log.c_str());
}
#endif

}  // namespace
}  // namespace wxr::cli
