#include "app/cli/terminal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstdlib>
#include <cstring>

#include "device/channel.h"

namespace wxr::cli {

namespace {

// https://no-color.org: set and not empty.
bool colour_refused() {
    const char* no_colour = std::getenv("NO_COLOR");
    return no_colour && *no_colour;
}

}  // namespace

#ifdef _WIN32

namespace {

bool virtual_terminal_on() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

bool stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0 && virtual_terminal_on(); }

TerminalTraits terminal_traits() {
    TerminalTraits traits;
    traits.colour = !colour_refused();
    traits.size = [] {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return TerminalSize{};
        return TerminalSize{info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
    };
    return traits;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return {argv + (argc > 0 ? 1 : 0), argv + argc};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        args.push_back(to_utf8(std::u16string(reinterpret_cast<const char16_t*>(wide[i]))));
    }
    LocalFree(wide);
    return args;
}

std::string program_name_as_run(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide || count < 1) return argc > 0 && argv[0] ? argv[0] : "";
    std::string name = to_utf8(std::u16string(reinterpret_cast<const char16_t*>(wide[0])));
    LocalFree(wide);
    return name;
}

namespace {

// Some consoles take the mode and still print the sequences as text (wine's
// in a Unix terminal does): a sequence that draws nothing must leave the
// cursor where it was. What such a console printed is taken back.
bool sequences_understood(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO before, after;
    if (!GetConsoleScreenBufferInfo(console, &before)) return false;
    constexpr char kProbe[] = "\x1b[0m";
    DWORD written = 0;
    if (!WriteConsoleA(console, kProbe, sizeof kProbe - 1, &written, nullptr)) return false;
    if (!GetConsoleScreenBufferInfo(console, &after)) return false;
    if (after.dwCursorPosition.X == before.dwCursorPosition.X && after.dwCursorPosition.Y == before.dwCursorPosition.Y) {
        return true;
    }
    DWORD cleared = 0;
    FillConsoleOutputCharacterA(console, ' ', written, before.dwCursorPosition, &cleared);
    SetConsoleCursorPosition(console, before.dwCursorPosition);
    return false;
}

}  // namespace

void prepare_output() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    // Several units are shown with VT100 cursor movements; a console that
    // cannot take them keeps its mode, and stdout_is_terminal() says no.
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode)) return;
    if (SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) && !sequences_understood(console)) {
        SetConsoleMode(console, mode & ~static_cast<DWORD>(ENABLE_VIRTUAL_TERMINAL_PROCESSING));
    }
}

#else

bool stdout_is_terminal() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) != 0 && !(term && std::strcmp(term, "dumb") == 0);
}

TerminalTraits terminal_traits() {
    TerminalTraits traits;
    traits.colour = !colour_refused();
    traits.size = [] {
        winsize size{};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return TerminalSize{};
        return TerminalSize{size.ws_col, size.ws_row};
    };
    return traits;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    // Linux passes the bytes the user typed, UTF-8 in any current locale.
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

std::string program_name_as_run(int argc, char** argv) { return argc > 0 && argv[0] ? argv[0] : ""; }

// A descriptor 0, 1 or 2 that is closed is opened on /dev/null: a file the
// command opens must never become its output. A reader that goes away makes
// writes fail instead of killing the process in the middle of a device write.
void prepare_output() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) ::close(null);
    }
    ::signal(SIGPIPE, SIG_IGN);
}

#endif

}  // namespace wxr::cli
