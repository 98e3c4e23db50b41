// The main dialog's window in Qt Widgets: template 102 laid out in dialog
// units, with the About entry in a context menu (Linux has no system menu).
#pragma once

#include <QDialog>
#include <map>
#include <memory>

#include "app/dialog_template.h"
#include "app/dialog_window.h"

class QMenu;
class QProgressBar;

namespace wxr {
class FedShiftKeyState;
}

namespace wxr::app {
class CWXR7305_Upgrade_ToolDlg;
}

namespace wxr::app::qt {

class MainWindow final : public QDialog, public DialogWindow {
public:
    // `shift` (may be null) is told of every Shift key press the application sees.
    MainWindow(CWXR7305_Upgrade_ToolDlg& dialog, FedShiftKeyState* shift);
    ~MainWindow() override;

    // OnInitDialog, then shows the window without waiting.
    void open_window();
    // open_window, the modal run, then OnDestroy; returns end_dialog's result.
    std::intptr_t run_modal();

    QWidget* control(int id) const;
    QProgressBar* progress_bar() const;
    QMenu* context_menu() const { return menu_; }
    const DialogBaseUnits& base_units() const { return units_; }
    bool ended() const { return ended_; }

    // DialogWindow
    void set_control_text(int id, const std::u16string& text) override;
    void enable_control(int id, bool enabled) override;
    void set_progress_range(std::int32_t low, std::int32_t high) override;
    void set_progress_position(std::int32_t position) override;
    MessageAnswer message_box(const std::u16string& text, const std::u16string& caption,
                              MessageIcon icon, MessageButtons buttons) override;
    std::optional<ChosenFile> choose_open_file(const std::u16string& filter_name,
                                               const std::u16string& pattern) override;
    void start_timer(std::uintptr_t id, std::uint32_t period_ms) override;
    void set_caption(const std::u16string& text) override;
    void set_application_icon() override;
    void add_about_entry(std::uint32_t command, const std::u16string& text) override;
    bool register_raw_mouse_input() override { return true; }
    void show_about_box() override;
    void end_dialog(std::intptr_t result) override;
    void run_pending_calls() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void accept() override;
    void reject() override;

private:
    void build_controls();
    QWidget* make_control(const ControlTemplate& item);
    MessageAnswer show_message_box(const QString& text, const QString& caption, MessageIcon icon,
                                   MessageButtons buttons);
    template <typename Call>
    void on_gui_thread(Call call);

    CWXR7305_Upgrade_ToolDlg& dialog_;
    DialogBaseUnits units_{};
    std::map<int, QWidget*> controls_;
    std::map<int, std::uintptr_t> timers_;  // Qt's timer id -> the dialog's
    QMenu* menu_ = nullptr;
    std::int32_t position_ = 0;  // as set, before the bar clamps it into its range
    bool ended_ = false;
    std::unique_ptr<QObject> shift_feeder_;
};

}  // namespace wxr::app::qt
