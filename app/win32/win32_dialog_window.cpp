#include "app/win32/win32_dialog_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "app/win32/win32_text.h"
#include "res/resource_ids.h"

namespace wxr::app::win32 {

namespace {

// Raw input: generic desktop page, mouse usage; input arrives in the background too.
constexpr USHORT kUsagePageGenericDesktop = 1;
constexpr USHORT kUsageMouse = 2;
// Room for the About entry's text (string 101).
constexpr int kMenuTextCapacity = 256;

UINT icon_flag(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation: return MB_ICONEXCLAMATION;
        case MessageIcon::Stop: return MB_ICONHAND;
        case MessageIcon::Question: return MB_ICONQUESTION;
        case MessageIcon::None: break;
    }
    return 0;
}

INT_PTR CALLBACK about_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(window, LOWORD(wparam));
                return TRUE;
            }
            break;
        default: break;
    }
    return FALSE;
}

}  // namespace

Win32DialogWindow::Win32DialogWindow(HINSTANCE instance, CWXR7305_Upgrade_ToolDlg& dialog)
    : instance_(instance), dialog_(dialog), icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

INT_PTR Win32DialogWindow::run_modal() {
    dialog_.attach(*this);
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_WXR7305_UPGRADE_TOOL_DIALOG), nullptr, dialog_proc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Win32DialogWindow::dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32DialogWindow*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    return self == nullptr ? FALSE : self->handle(message, wparam);
}

// FALSE hands a message on to the default dialog processing.
INT_PTR Win32DialogWindow::handle(UINT message, WPARAM wparam) {
    switch (message) {
        case WM_INITDIALOG: return dialog_.OnInitDialog() ? TRUE : FALSE;
        case WM_COMMAND:
            if (HIWORD(wparam) == BN_CLICKED) dialog_.OnCommand(LOWORD(wparam));
            return TRUE;
        case WM_SYSCOMMAND: return dialog_.OnSysCommand(static_cast<std::uint32_t>(wparam)) ? TRUE : FALSE;
        case WM_TIMER: dialog_.OnTimer(static_cast<std::uintptr_t>(wparam)); return FALSE;
        case WM_CLOSE: dialog_.OnClose(); return TRUE;  // the dialog issues command 2 itself
        case WM_PAINT: return paint_minimised() ? TRUE : FALSE;
        // The cursor shown while the minimised window is dragged.
        case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(icon_);
        case WM_DESTROY: dialog_.OnDestroy(); return FALSE;
        default: return FALSE;  // WM_INPUT included: the registration is all that is wanted
    }
}

// Minimised, the window shows the icon centred in its client area.
bool Win32DialogWindow::paint_minimised() {
    if (!IsIconic(window_)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int icon_width = GetSystemMetrics(SM_CXICON);
    const int icon_height = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - client.left - icon_width + 1) / 2;
    const int y = (client.bottom - client.top - icon_height + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &paint);
    return true;
}

void Win32DialogWindow::set_control_text(int id, const std::u16string& text) {
    SetDlgItemTextW(window_, id, wide(text).c_str());
}

// Also called from the worker thread: the system carries the change over to
// the dialog's thread.
void Win32DialogWindow::enable_control(int id, bool enabled) {
    EnableWindow(GetDlgItem(window_, id), enabled ? TRUE : FALSE);
}

void Win32DialogWindow::set_progress_range(std::int32_t low, std::int32_t high) {
    SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETRANGE32, static_cast<WPARAM>(low),
                        static_cast<LPARAM>(high));
}

void Win32DialogWindow::set_progress_position(std::int32_t position) {
    SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// The worker thread shows its boxes itself, owned by the dialog; the owner is
// disabled while a box is up, whichever thread shows it.
MessageAnswer Win32DialogWindow::message_box(const std::u16string& text, const std::u16string& caption,
                                             MessageIcon icon, MessageButtons buttons) {
    const bool yes_no = buttons == MessageButtons::YesNo;
    if (ended_.load()) return yes_no ? MessageAnswer::No : MessageAnswer::Ok;
    const UINT type = (yes_no ? MB_YESNO | MB_DEFBUTTON2 : MB_OK) | icon_flag(icon);
    const int answer = MessageBoxW(window_, wide(text).c_str(), wide(caption).c_str(), type);
    if (!yes_no) return MessageAnswer::Ok;
    return answer == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<ChosenFile> Win32DialogWindow::choose_open_file(const std::u16string& filter_name,
                                                              const std::u16string& pattern) {
    // One filter: name, pattern, and the empty pair that ends the list.
    std::wstring filter = wide(filter_name) + L'\0' + wide(pattern) + L'\0' + L'\0';
    std::vector<wchar_t> name(kFileNameCapacity, L'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof(request);
    request.hwndOwner = window_;
    request.lpstrFilter = filter.c_str();
    request.nFilterIndex = 1;
    request.lpstrFile = name.data();
    request.nMaxFile = static_cast<DWORD>(name.size());
    request.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&request)) return std::nullopt;
    return ChosenFile{utf16(name.data()), std::filesystem::path(std::wstring(name.data()))};
}

void Win32DialogWindow::start_timer(std::uintptr_t id, std::uint32_t period_ms) {
    SetTimer(window_, id, period_ms, nullptr);
}

void Win32DialogWindow::set_caption(const std::u16string& text) { SetWindowTextW(window_, wide(text).c_str()); }

void Win32DialogWindow::set_application_icon() {
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

// The entry's text comes from string 101, as the resources carry it; the
// dialog's copy stands in only if the string cannot be loaded.
void Win32DialogWindow::add_about_entry(std::uint32_t command, const std::u16string& text) {
    HMENU menu = GetSystemMenu(window_, FALSE);
    if (menu == nullptr) return;
    wchar_t loaded[kMenuTextCapacity] = {};
    std::wstring entry = LoadStringW(instance_, IDS_ABOUTBOX, loaded, kMenuTextCapacity) > 0 ? loaded : wide(text);
    if (entry.empty()) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, command, entry.c_str());
}

bool Win32DialogWindow::register_raw_mouse_input() {
    RAWINPUTDEVICE device{};
    device.usUsagePage = kUsagePageGenericDesktop;
    device.usUsage = kUsageMouse;
    device.dwFlags = RIDEV_INPUTSINK;
    device.hwndTarget = window_;
    return RegisterRawInputDevices(&device, 1, sizeof(device)) != FALSE;
}

void Win32DialogWindow::show_about_box() {
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), window_, about_proc, 0);
}

void Win32DialogWindow::end_dialog(std::intptr_t result) {
    ended_.store(true);
    EndDialog(window_, result);
}

// Messages that the worker sends to the window (a box taking its owner, the
// button given back) are delivered while the dialog thread waits here.
void Win32DialogWindow::run_pending_calls() {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
}

}  // namespace wxr::app::win32
