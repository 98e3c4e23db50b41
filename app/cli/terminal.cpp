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
#include <iostream>
#include <streambuf>

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

namespace {

// Bytes of `text` that end with a whole UTF-8 character (a sequence cut by
// the buffer's end waits for the rest).
std::size_t whole_characters(const char* text, std::size_t length) {
    std::size_t start = length;
    for (std::size_t back = 0; back < 4 && start > 0; ++back) {
        const auto c = static_cast<unsigned char>(text[start - 1]);
        if ((c & 0xC0) != 0x80) {
            const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            return (length - (start - 1)) >= need ? length : start - 1;
        }
        --start;
    }
    return length;
}

void write_console(HANDLE console, const char* text, std::size_t length) {
    if (length == 0) return;
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
    if (wide_length <= 0) return;
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), wide.data(), wide_length);
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle && GetConsoleMode(handle, &mode);
}

// A stream's buffer that hands the console whole lines (and what a flush
// asks for), each as one WriteConsoleW.
class ConsoleBuffer final : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) { setp(buffer_, buffer_ + sizeof buffer_); }

protected:
    int_type overflow(int_type c) override {
        if (send(false) != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return send(true); }

private:
    // all: everything whole (a flush); else what fits a line's end.
    int send(bool all) {
        const std::size_t length = static_cast<std::size_t>(pptr() - pbase());
        std::size_t end = whole_characters(pbase(), length);
        if (!all && end == 0) end = length;  // no whole character in a full buffer: not text
        write_console(console_, pbase(), end);
        std::memmove(buffer_, buffer_ + end, length - end);
        setp(buffer_, buffer_ + sizeof buffer_);
        pbump(static_cast<int>(length - end));
        return 0;
    }

    // A frame of 200 units is a few kB: one write each.
    static constexpr std::size_t kBufferBytes = 16 * 1024;
    HANDLE console_;
    char buffer_[kBufferBytes];
};

}  // namespace

void route_console_output() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
    // For the process's life: the streams use them until it ends.
    if (is_console(out)) std::cout.rdbuf(new ConsoleBuffer(out));
    if (is_console(err)) std::cerr.rdbuf(new ConsoleBuffer(err));
}

void write_raw(int fd, const char* utf8, std::size_t length) {
    HANDLE handle = GetStdHandle(fd == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (is_console(handle)) return write_console(handle, utf8, length);
    _write(fd, utf8, static_cast<unsigned>(length));
}

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

void route_console_output() {}

void write_raw(int fd, const char* utf8, std::size_t length) {
    [[maybe_unused]] auto written = ::write(fd, utf8, length);
}

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
