#include "app/cli/interrupt.h"

#include <atomic>
#include <cstdlib>

#include "app/cli/cli.h"
#include "app/cli/screen_ending.h"
#include "app/cli/terminal.h"
#ifdef _WIN32
#include "device/windows/win32_platform.h"
#endif

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <system_error>
#include <thread>
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

void write_to(int fd, const char* text, std::size_t length) { write_raw(fd, text, length); }

void write_err(const char* text, std::size_t length) { write_to(2, text, length); }

// A cursor the screen hid comes back whatever ends the process.
void show_cursor() {
    constexpr char kShowCursor[] = "\x1b[?25h";
    if (cursor_hidden()) write_to(1, kShowCursor, sizeof kShowCursor - 1);
}

// The second press: no waiting for anything, the process ends here, naming
// the units it leaves part-written as the station last posted them.
[[noreturn]] void leave_at_once(const StopRequest& stop) {
    // On a terminal the screen's own ending: the region erased, the recap, the retry and the count.
    static char ending[kEndingCapacity];
    if (const std::size_t length = read_screen_ending(ending); length > 0) {
        write_to(1, ending, length);
        std::_Exit(kExitUpgradeFailed);
    }
    show_cursor();
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

// Windows ends a process this long after its handler got a console close
// (SPI_GETHUNGAPPTIMEOUT, 5 s by default), a log-off or a shutdown
// (SPI_GETWAITTOKILLTIMEOUT, 5 s; a service at shutdown
// SPI_GETWAITTOKILLSERVICETIMEOUT, 20 s), or at once when the handler
// returns. The handler therefore holds the process for the longest of them:
// the writes that end in time are shown and logged, and the process ends by
// itself as soon as the command has; a write that needs longer is cut off by
// the system, which no program can prevent.
constexpr DWORD kLongestAllowanceMs = 20000;
// What Windows shows while a log-off or shutdown waits for this program.
constexpr wchar_t kBlockReason[] = L"Writing firmware into a device: stopping the moment the write ends.";
constexpr wchar_t kSessionWindowClass[] = L"wxr7305 session end";

// The console calls its handler without any context, so the request it
// reports to is kept here, set once before the handler is installed.
std::atomic<StopRequest*>& handler_target() {
    static std::atomic<StopRequest*> target{nullptr};
    return target;
}

BOOL WINAPI on_console_control(DWORD type) {
    StopRequest* stop = handler_target().load();
    if (!stop) return FALSE;
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            switch (on_stop_signal(*stop, StopSignal::Interrupt)) {
                case StopAction::Default: show_cursor(); return FALSE;
                case StopAction::LeaveAtOnce: leave_at_once(*stop);
                case StopAction::Handled: return TRUE;
            }
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (on_stop_signal(*stop, StopSignal::Terminate) == StopAction::Default) return FALSE;
            Sleep(kLongestAllowanceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

// A process that loads user32 (this one does: SetupAPI and the shell load
// it) gets log-off and shutdown not as console events but as
// WM_QUERYENDSESSION and WM_ENDSESSION to its top-level windows: a hidden one
// takes them. While a unit is being written the log-off or shutdown is asked
// to wait, with the reason shown; the process ends by itself once the writes
// have. Forced on (WM_ENDSESSION), the process is held as for a console close.
LRESULT CALLBACK on_session_end(HWND window, UINT message, WPARAM ending, LPARAM info) {
    StopRequest* stop = handler_target().load();
    if (message == WM_QUERYENDSESSION && stop &&
        on_stop_signal(*stop, StopSignal::Terminate) != StopAction::Default && stop->writing()) {
        ShutdownBlockReasonCreate(window, kBlockReason);
        return FALSE;
    }
    if (message == WM_ENDSESSION && ending && stop && stop->armed()) {
        on_stop_signal(*stop, StopSignal::Terminate);
        Sleep(kLongestAllowanceMs);
        return 0;
    }
    return DefWindowProcW(window, message, ending, info);
}

// Only for a command that writes: a window costs wine a desktop process.
// Wine without a display has no session end to send, and a window there can
// wait on a desktop process that cannot start. Without a thread for it, a
// log-off ends the process as it always did.
void watch_session_end() try {
    if (running_on_wine() && GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) return;
    std::thread([] {
        WNDCLASSW type{};
        type.lpfnWndProc = on_session_end;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = kSessionWindowClass;
        if (!RegisterClassW(&type)) return;
        // Top-level (a message-only window is not asked) and never shown.
        HWND window = CreateWindowExW(0, kSessionWindowClass, L"wxr7305", 0, 0, 0, 0, 0, nullptr, nullptr,
                                      type.hInstance, nullptr);
        if (!window) return;
        // For the process's life: the thread ends with it.
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    }).detach();
} catch (const std::system_error&) {
}

}  // namespace

void install_interrupt_handler(StopRequest& stop) {
    handler_target().store(&stop);
    SetConsoleCtrlHandler(on_console_control, TRUE);
    stop.on_first_arm(watch_session_end);
}

#else

namespace {

// Logrotate's "open the log anew" (SIGHUP is taken: a closed terminal stops).
constexpr int kReopenSignal = SIGUSR1;
constexpr int kTakenSignals[] = {SIGINT, SIGTERM, SIGHUP, kReopenSignal};

[[noreturn]] void end_by_default(int signal) {
    show_cursor();
    ::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

bool ignored(int signal) {
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

// The signals are blocked in every thread and taken by one waiting thread,
// which may then do anything, not only what a signal handler may. A signal
// ignored by whoever started us (SIGINT for background jobs of a script,
// SIGHUP under nohup) stays ignored.
void install_interrupt_handler(StopRequest& stop) {
    sigset_t set;
    sigemptyset(&set);
    bool any = false;
    for (int signal : kTakenSignals) {
        if (ignored(signal)) continue;
        sigaddset(&set, signal);
        any = true;
    }
    if (!any || ::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    std::thread([&stop, set] {
        while (true) {
            int signal = 0;
            if (::sigwait(&set, &signal) != 0) continue;
            if (signal == kReopenSignal) {
                stop.ask_reopen();
                continue;
            }
            switch (on_stop_signal(stop, signal == SIGINT ? StopSignal::Interrupt : StopSignal::Terminate)) {
                case StopAction::Default: end_by_default(signal);
                case StopAction::LeaveAtOnce: leave_at_once(stop);
                case StopAction::Handled: break;
            }
        }
    }).detach();
}

#endif

}  // namespace wxr::cli
