// Drives a running dialog from outside, one step per run, for the GUI tests
// and the screenshots under wine:
//   gui_driver wait-window <caption> <timeout_ms>   the dialog is up
//   gui_driver click <caption> <id>                 clicks an enabled button
//   gui_driver box-text <caption> <timeout_ms>      prints the text of the box
//                                                   the dialog shows (UTF-8)
//   gui_driver box-answer <caption> <id>            answers that box (1 OK, 6 Yes, 7 No)
//   gui_driver text <caption> <id>                  prints a control's text (UTF-8)
//   gui_driver popup-caption <caption> <timeout_ms> prints the caption of the
//                                                   dialog's modal popup
//   gui_driver syscommand <caption> <id>            a system-menu command
//   gui_driver sysmenu <caption>                    opens the system menu
//   gui_driver close <caption>                      the close box
//   gui_driver enabled <caption> <id>               prints 1 or 0
//   gui_driver visible <caption> <id>               prints 1 or 0
//   gui_driver command <caption> <id>               the command a key gives (2: Escape)
//   gui_driver progress <caption> <id>              prints a progress bar's "position high"
//   gui_driver wait-bar-full <caption> <timeout_ms> <id>  a progress bar at its high end
//   gui_driver wait-enabled <caption> <timeout_ms> <id>   a control enabled
//   gui_driver choose-file <caption> <timeout_ms> <path>
//                                                   types path into the file-open dialog
//                                                   the dialog shows and presses Open
// Several steps may follow one another in one run, joined by "+"
// (gui_driver click <caption> 1000 + box-text <caption> 60000): under
// emulation each start of a Windows program costs seconds. They run in order
// until one fails; what they print follows one another.
// Exit code 0 when every step was done, 1 when one timed out or failed.
#include <windows.h>
// windows.h first: the common controls header relies on its types.
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

// How often a wait looks again; each wait has its own bound from the caller.
// After the first second it looks less often: on an emulated CPU the looking
// takes time from the program it waits for.
constexpr DWORD kPollMs = 50;
constexpr DWORD kSlowPollMs = 500;
constexpr DWORD kFastPollingMs = 1000;
// The static control that holds a message box's text.
constexpr int kBoxTextId = 0xFFFF;
// The file-open dialog's file name field: the combo box of the Explorer
// style, or the edit field of the older one.
constexpr int kFileNameComboId = 0x47C;
constexpr int kFileNameEditId = 0x480;

void print_utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size() - 1, stdout);
    std::fflush(stdout);
}

std::wstring window_text(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

HWND find_dialog(const wchar_t* caption) { return FindWindowW(L"#32770", caption); }

// Waits until found() gives a window or the time is up.
template <typename Find>
HWND wait_for(Find found, DWORD timeout_ms) {
    for (DWORD waited = 0;;) {
        if (HWND window = found()) return window;
        if (waited >= timeout_ms) return nullptr;
        const DWORD pause = waited < kFastPollingMs ? kPollMs : kSlowPollMs;
        Sleep(pause);
        waited += pause;
    }
}

// The visible dialog-class window owned by the dialog: a message box (from
// whichever thread showed it) or the About box.
HWND popup_of(HWND dialog) {
    struct Search {
        HWND owner;
        HWND found;
    } search{dialog, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window) ||
                std::wstring(name) != L"#32770") {
                return TRUE;
            }
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int fail(const char* what) {
    std::fprintf(stderr, "gui_driver: %s\n", what);
    return 1;
}

// One step: argv[0] is its name, argv[1] the dialog's caption.
int run_step(int argc, wchar_t** argv) {
    if (argc < 2) return fail("usage: gui_driver <step> <caption> [argument] [+ <step> ...]");
    const std::wstring step = argv[0];
    const wchar_t* caption = argv[1];
    const DWORD argument = argc > 2 ? wcstoul(argv[2], nullptr, 0) : 0;

    if (step == L"wait-window") {
        return wait_for([&] { return find_dialog(caption); }, argument) ? 0 : fail("no such window");
    }
    HWND dialog = find_dialog(caption);
    if (dialog == nullptr) return fail("no such window");

    if (step == L"click") {
        HWND button = GetDlgItem(dialog, static_cast<int>(argument));
        if (button == nullptr || !IsWindowEnabled(button)) return fail("button missing or disabled");
        // Posted: the handler may show a modal box, which a sent click would wait for.
        PostMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (step == L"enabled" || step == L"visible") {
        HWND control = GetDlgItem(dialog, static_cast<int>(argument));
        if (control == nullptr) return fail("no such control");
        const bool on = step == L"enabled" ? IsWindowEnabled(control) : IsWindowVisible(control);
        std::printf("%d", on ? 1 : 0);
        return 0;
    }
    if (step == L"command") {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(argument, BN_CLICKED), 0);
        return 0;
    }
    if (step == L"box-text" || step == L"popup-caption") {
        HWND popup = wait_for([&] { return popup_of(dialog); }, argument);
        if (popup == nullptr) return fail("no box appeared");
        print_utf8(step == L"box-text" ? window_text(GetDlgItem(popup, kBoxTextId)) : window_text(popup));
        return 0;
    }
    if (step == L"box-answer") {
        HWND popup = popup_of(dialog);
        if (popup == nullptr) return fail("no box");
        PostMessageW(popup, WM_COMMAND, MAKEWPARAM(argument, BN_CLICKED), 0);
        return 0;
    }
    if (step == L"text") {
        HWND control = GetDlgItem(dialog, static_cast<int>(argument));
        if (control == nullptr) return fail("no such control");
        print_utf8(window_text(control));
        return 0;
    }
    if (step == L"syscommand") {
        PostMessageW(dialog, WM_SYSCOMMAND, argument, 0);
        return 0;
    }
    if (step == L"sysmenu") {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_KEYMENU, L' ');
        return 0;
    }
    if (step == L"close") {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        return 0;
    }
    if (step == L"progress") {
        HWND bar = GetDlgItem(dialog, static_cast<int>(argument));
        if (bar == nullptr) return fail("no such control");
        const auto position = SendMessageW(bar, PBM_GETPOS, 0, 0);
        const auto high = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
        std::printf("%ld %ld", static_cast<long>(position), static_cast<long>(high));
        return 0;
    }
    if ((step == L"wait-bar-full" || step == L"wait-enabled") && argc > 3) {
        // One process for the whole wait: under emulation each start of a
        // Windows program costs seconds.
        HWND control = GetDlgItem(dialog, static_cast<int>(wcstoul(argv[3], nullptr, 0)));
        if (control == nullptr) return fail("no such control");
        const bool bar = step == L"wait-bar-full";
        HWND done = wait_for(
            [&]() -> HWND {
                if (!bar) return IsWindowEnabled(control) ? control : nullptr;
                const auto position = SendMessageW(control, PBM_GETPOS, 0, 0);
                return position > 0 && position == SendMessageW(control, PBM_GETRANGE, FALSE, 0) ? control
                                                                                                  : nullptr;
            },
            argument);
        return done != nullptr ? 0 : fail(bar ? "the bar is not full" : "still disabled");
    }
    if (step == L"choose-file" && argc > 3) {
        HWND name = nullptr;
        HWND popup = wait_for(
            [&]() -> HWND {
                HWND found = popup_of(dialog);
                if (found == nullptr) return nullptr;
                name = GetDlgItem(found, kFileNameComboId);
                if (name == nullptr) name = GetDlgItem(found, kFileNameEditId);
                return name != nullptr ? found : nullptr;
            },
            argument);
        if (popup == nullptr) return fail("no file dialog appeared");
        SetWindowTextW(name, argv[3]);
        PostMessageW(popup, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    return fail("unknown step");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return fail("usage: gui_driver <step> <caption> [argument] [+ <step> ...]");
    for (int first = 1; first < argc;) {
        int end = first;
        while (end < argc && std::wstring(argv[end]) != L"+") ++end;
        if (const int result = run_step(end - first, argv + first); result != 0) return result;
        first = end + 1;
    }
    return 0;
}
