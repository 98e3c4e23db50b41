#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <fstream>
#include <set>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include "station/stop_request.h"
#include "tests/cli/cli_process.h"
#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

// What each request to stop does, by the state it finds.
TEST(Stop, EachSignalActsByTheStateItFinds) {
    constexpr auto I = StopSignal::Interrupt, T = StopSignal::Terminate;
    constexpr auto Default = StopAction::Default, Handled = StopAction::Handled, Leave = StopAction::LeaveAtOnce;
    struct Case {
        bool armed, writing;
        std::vector<StopSignal> signals;
        StopAction last;
        bool leave_now;
    } cases[] = {
        {false, false, {I}, Default, false}, {false, true, {T}, Default, false},
        {true, true, {I}, Handled, false},   {true, true, {T}, Handled, false},
        {true, true, {I, I}, Leave, true},   {true, false, {I, I}, Handled, true},
        // The system asks again and again: never the second press; someone
        // at the terminal after it: theirs is.
        {true, true, {T, T, T}, Handled, false}, {true, true, {I, T}, Handled, false},
        {true, true, {T, I}, Leave, true},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(index++);
        StopRequest stop;
        stop.arm(c.armed);
        if (c.writing) stop.begin_write();
        StopAction last = Default;
        for (StopSignal s : c.signals) last = on_stop_signal(stop, s);
        EXPECT_EQ(last, c.last);
        EXPECT_EQ(stop.requested(), c.armed);
        EXPECT_EQ(stop.leave_now(), c.leave_now);
    }
}

// Two units being written and a third plugged in well after the stop and
// well before their writes end (busy reads stretch each write to seconds).
constexpr char kStation[] = "--simulate=devices=3,busy=4,version=50,2:arrive-at=2500";

// What a stop during the writes leaves: both writes ended, each on disk in
// the log; the third unit never started; the results' exit code.
void expect_running_writes_ended(int code, const std::string& output, const std::string& log) {
    EXPECT_EQ(code, 0) << output;
    EXPECT_TRUE(contains(output, "2 units: 2 written")) << output;
    EXPECT_FALSE(contains(output, "sim:2")) << output;
    std::istringstream records(log);
    std::set<std::string> written;
    for (std::string line; std::getline(records, line);) {
        auto record = nlohmann::json::parse(line);
        if (record["record"] == "start") continue;  // each unit's start, before its result
        EXPECT_EQ(record["result"], "success") << line;
        EXPECT_EQ(record["simulated_flash_equals_image"], true) << line;
        written.insert(record["path"].get<std::string>());
    }
    EXPECT_EQ(written, (std::set<std::string>{"sim:0", "sim:1"})) << log;
}

#ifndef _WIN32
std::filesystem::path temp_log(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("wxr7305_stop_test_" + name + ".log");
}

// SIGTERM (systemd, kill, a shutdown) and SIGHUP (a closed terminal) while
// two units are written.
TEST(Stop, TheSystemsRequestLetsRunningWritesEndAndStartsNoOther) {
    struct Running {
        int signal;
        std::filesystem::path log;
        pid_t pid = -1;
        int fd = -1;
    };
    std::vector<Running> runs{{SIGTERM, temp_log("sigterm")}, {SIGHUP, temp_log("sighup")}};
    for (Running& run : runs) {
        std::filesystem::remove(run.log);
        std::tie(run.pid, run.fd) = spawn({"upgrade", "--watch", "--log", run.log.string(), kStation});
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
        EXPECT_TRUE(contains(rest, "stopping: 2 writes finishing, none started")) << rest;
        const int code = exit_status(run.pid);
        expect_running_writes_ended(code, rest, file_text(run.log));
        std::filesystem::remove(run.log);
    }
}
#else
// wxr7305 writing the station's units, its output read until both show progress.
class Writing {
public:
    explicit Writing(const std::string& log) {
        std::string program = WXR7305_PROGRAM;
        if (program.front() == '/') program = "Z:" + program;  // the build tree, seen from wine
        std::string command = "\"" + program + "\" upgrade --watch --log " + log + " " + kStation;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write_end = nullptr;
        if (!CreatePipe(&read_end_, &write_end, &inherit, 0)) return;
        SetHandleInformation(read_end_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = write_end;
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child_);
        CloseHandle(write_end);
        while (!(contains(seen, "sim:0 progress") && contains(seen, "sim:1 progress")) && read_more()) {
        }
    }
    ~Writing() {
        for (HANDLE h : {child_.hProcess, child_.hThread, read_end_}) CloseHandle(h);
    }
    HANDLE process() const { return child_.hProcess; }
    // Reads to the end; the exit code, or -1 for a process that did not end.
    int finish() {
        while (read_more()) {
        }
        // Bounds a hung test only: the process ends as soon as its writes have.
        DWORD code = 1;
        if (WaitForSingleObject(child_.hProcess, 60000) != WAIT_OBJECT_0) return -1;
        GetExitCodeProcess(child_.hProcess, &code);
        return static_cast<int>(code);
    }
    std::string seen;

private:
    bool read_more() {
        char buffer[256];
        DWORD got = 0;
        if (!ReadFile(read_end_, buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
        seen.append(buffer, got);
        return true;
    }
    HANDLE read_end_ = nullptr;
    PROCESS_INFORMATION child_{};
};

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Windows raises a console close in a process by starting a thread of its
// own there at kernelbase's CtrlRoutine; this does the same. (Wine raises
// none: closing a wine console window ends its processes without an event.)
TEST(Stop, AConsoleCloseLetsRunningWritesEndAndStartsNoOther) {
    auto ctrl_routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
    ASSERT_NE(ctrl_routine, nullptr);
    const std::string log = "wxr7305_stop_test_close.log";
    DeleteFileA(log.c_str());
    Writing writing(log);
    HANDLE event = CreateRemoteThread(writing.process(), nullptr, 0, ctrl_routine,
                                      reinterpret_cast<void*>(static_cast<ULONG_PTR>(CTRL_CLOSE_EVENT)), 0, nullptr);
    ASSERT_NE(event, nullptr);
    CloseHandle(event);
    const int code = writing.finish();
    expect_running_writes_ended(code, writing.seen, file_text(log));
    DeleteFileA(log.c_str());
}

#endif

}  // namespace
}  // namespace wxr::cli
