#include "app/cli/interrupt.h"

#include <atomic>
#include <cstdlib>

#include "app/cli/cli.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>
#endif

namespace wxr::cli {

namespace {

constexpr char kLeavingText[] =
    "\nwxr7305: interrupted while writing: a device left half-written may not start; upgrade it again.\n";
constexpr char kPartWrittenText[] = "\nwxr7305: interrupted while writing; left part-written, upgrade them again: ";

void write_err(const char* text, std::size_t length) {
#ifdef _WIN32
    _write(2, text, static_cast<unsigned>(length));
#else
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, text, length);
#endif
}

// The second press: no waiting for anything, the process ends here, naming
// the units it leaves part-written as the station last posted them.
[[noreturn]] void leave_at_once(const StopRequest& stop) {
    char units[WritingBoard::kCapacity];
    const std::size_t length = stop.board().read(units);
    if (length == 0) {
        write_err(kLeavingText, sizeof kLeavingText - 1);
    } else {
        write_err(kPartWrittenText, sizeof kPartWrittenText - 1);
        write_err(units, length);
        write_err(".\n", 2);
    }
    std::_Exit(kExitUpgradeFailed);
}

}  // namespace

#ifdef _WIN32

namespace {

// The console calls its handler without any context, so the request it
// reports to is kept here, set once before the handler is installed.
std::atomic<StopRequest*>& handler_target() {
    static std::atomic<StopRequest*> target{nullptr};
    return target;
}

BOOL WINAPI on_console_control(DWORD type) {
    StopRequest* stop = handler_target().load();
    if ((type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) || !stop || !stop->armed()) return FALSE;
    if (stop->press() >= 2 && stop->writing()) leave_at_once(*stop);
    return TRUE;
}

}  // namespace

void install_interrupt_handler(StopRequest& stop) {
    handler_target().store(&stop);
    SetConsoleCtrlHandler(on_console_control, TRUE);
}

#else

namespace {

[[noreturn]] void end_as_interrupted(const sigset_t& set) {
    ::signal(SIGINT, SIG_DFL);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(SIGINT);
    std::_Exit(128 + SIGINT);
}

bool sigint_ignored() {
    struct sigaction current {};
    return ::sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

// SIGINT is blocked in every thread and taken by one waiting thread, which
// may then do anything, not only what a signal handler may. A SIGINT ignored
// by whoever started us (background jobs of a script) stays ignored.
void install_interrupt_handler(StopRequest& stop) {
    if (sigint_ignored()) return;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    std::thread([&stop, set] {
        while (true) {
            int signal = 0;
            if (::sigwait(&set, &signal) != 0) continue;
            if (!stop.armed()) end_as_interrupted(set);
            // With nothing being written, the command itself leaves with its results.
            if (stop.press() >= 2 && stop.writing()) leave_at_once(stop);
        }
    }).detach();
}

#endif

}  // namespace wxr::cli
