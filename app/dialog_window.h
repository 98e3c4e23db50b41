// The main dialog's window, as the shared dialog class drives it. Each
// front-end (Qt on Linux, Win32 on Windows) implements this interface; the
// dialog class holds every rule and the window only does what it is told.
// Events go the other way: the front-end calls the dialog's handlers
// (OnInitDialog, OnCommand, OnSysCommand, OnTimer, OnClose, OnDestroy).
//
// Threads: every call comes from the dialog thread, except message_box and
// enable_control, which the upgrade worker also makes. From another thread,
// message_box shows the box on the dialog thread and blocks its caller until
// the box is dismissed; enable_control may return before the change is made.
//
// Calls:
//  set_control_text(id, text)  Replaces the text of control `id`.
//  enable_control(id, on)      Enables or disables control `id`.
//  set_progress_range(lo, hi)  Range of the progress bar (control 1001).
//  set_progress_position(pos)  Position of the bar; a value outside the range
//                              shows the nearer end (an empty or a full bar).
//  message_box(text, caption, icon, buttons)
//                              A modal box owned by the dialog; returns the
//                              answer. YesNo boxes have No as their default
//                              button, and closing one answers No. After
//                              end_dialog it shows nothing and answers Ok (or
//                              No for YesNo).
//  choose_open_file(filter_name, pattern)
//                              The platform's file-open dialog, owned by the
//                              dialog: one filter, selected; no initial file
//                              or directory; the path and the file must
//                              exist. The chosen file, or nullopt when the
//                              user cancelled or the dialog failed.
//  start_timer(id, period_ms)  Every period, OnTimer(id) on the dialog thread,
//                              for as long as the window exists.
//  set_caption(text)           The window's title.
//  set_application_icon()      Icon 128 as the window's big and small icon.
//  add_about_entry(command, text)
//                              Appends a separator and an entry `text` to the
//                              system menu (on Linux, the dialog's context
//                              menu); choosing it calls OnSysCommand(command).
//  register_raw_mouse_input()  Raw mouse input for the window (input sink);
//                              false when the platform refuses. Platforms
//                              without raw input do nothing and return true.
//  show_about_box()            The About box (template 100), modal; returns
//                              when it is closed.
//  end_dialog(result)          Ends the modal run with `result`; the window
//                              closes. The front-end then calls OnDestroy.
//  run_pending_calls()         Runs, without waiting for new ones, the calls
//                              that other threads have handed to the dialog
//                              thread (a worker's message box, for one). The
//                              dialog calls it while it waits for its worker.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace wxr::app {

enum class MessageIcon { None, Exclamation, Stop, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// A file the user chose: its path as the dialog shows it, and as the system
// opens it (on Linux a name need not be UTF-8).
struct ChosenFile {
    std::u16string text;
    std::filesystem::path path;
};

class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    virtual void set_control_text(int id, const std::u16string& text) = 0;
    virtual void enable_control(int id, bool enabled) = 0;
    virtual void set_progress_range(std::int32_t low, std::int32_t high) = 0;
    virtual void set_progress_position(std::int32_t position) = 0;
    virtual MessageAnswer message_box(const std::u16string& text, const std::u16string& caption,
                                      MessageIcon icon, MessageButtons buttons) = 0;
    virtual std::optional<ChosenFile> choose_open_file(const std::u16string& filter_name,
                                                       const std::u16string& pattern) = 0;
    virtual void start_timer(std::uintptr_t id, std::uint32_t period_ms) = 0;
    virtual void set_caption(const std::u16string& text) = 0;
    virtual void set_application_icon() = 0;
    virtual void add_about_entry(std::uint32_t command, const std::u16string& text) = 0;
    virtual bool register_raw_mouse_input() = 0;
    virtual void show_about_box() = 0;
    virtual void end_dialog(std::intptr_t result) = 0;
    virtual void run_pending_calls() = 0;
};

}  // namespace wxr::app
