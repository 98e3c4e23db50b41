// The main dialog on Win32: a modal dialog built from template 102 whose
// dialog procedure hands the messages to CWXR7305_Upgrade_ToolDlg, and the
// DialogWindow calls the dialog class makes, each one Win32 call.
#pragma once

#include <windows.h>

#include <atomic>

#include "app/dialog_window.h"
#include "app/main_dialog.h"

namespace wxr::app::win32 {

class Win32DialogWindow final : public DialogWindow {
public:
    Win32DialogWindow(HINSTANCE instance, CWXR7305_Upgrade_ToolDlg& dialog);

    // Creates the window from template 102, runs it modally and returns the
    // result given to end_dialog.
    INT_PTR run_modal();

    void set_control_text(int id, const std::u16string& text) override;
    void enable_control(int id, bool enabled) override;
    void set_progress_range(std::int32_t low, std::int32_t high) override;
    void set_progress_position(std::int32_t position) override;
    MessageAnswer message_box(const std::u16string& text, const std::u16string& caption, MessageIcon icon,
                              MessageButtons buttons) override;
    std::optional<ChosenFile> choose_open_file(const std::u16string& filter_name,
                                               const std::u16string& pattern) override;
    void start_timer(std::uintptr_t id, std::uint32_t period_ms) override;
    void set_caption(const std::u16string& text) override;
    void set_application_icon() override;
    void add_about_entry(std::uint32_t command, const std::u16string& text) override;
    bool register_raw_mouse_input() override;
    void show_about_box() override;
    void end_dialog(std::intptr_t result) override;
    void run_pending_calls() override;

private:
    static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR handle(UINT message, WPARAM wparam);
    bool paint_minimised();

    HINSTANCE instance_;
    CWXR7305_Upgrade_ToolDlg& dialog_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    // Set by end_dialog: boxes asked for afterwards are not shown.
    std::atomic<bool> ended_{false};
};

}  // namespace wxr::app::win32
