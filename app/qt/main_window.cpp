#include "app/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimerEvent>
#include <algorithm>

#include "app/main_dialog.h"
#include "app/qt/about_box.h"
#include "app/qt/app_icon.h"
#include "app/qt/dialog_units.h"
#include "app/qt/qt_text.h"
#include "device/local_mutex.h"

namespace wxr::app::qt {

namespace {

// Notes each Shift key press anywhere in the application.
class ShiftFeeder final : public QObject {
public:
    explicit ShiftFeeder(FedShiftKeyState& shift) : shift_(shift) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Shift && !key->isAutoRepeat()) shift_.note_press();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    FedShiftKeyState& shift_;
};

QMessageBox::Icon qt_icon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation: return QMessageBox::Warning;
        case MessageIcon::Stop: return QMessageBox::Critical;
        case MessageIcon::Question: return QMessageBox::Question;
        case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// A static control shows CR LF as one line break.
QString display_text(const std::u16string& text) {
    return to_qstring(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

MainWindow::MainWindow(CWXR7305_Upgrade_ToolDlg& dialog, FedShiftKeyState* shift)
    // A normal window rather than a transient dialog, so that it has a task bar
    // entry. Without the minimise and maximise hints Qt leaves both out of the
    // Motif hints, which window managers such as IceWM, Metacity and KWin
    // honour; openbox ignores them and keeps both boxes on every resizable
    // window of the normal or dialog type, and Qt::Dialog changes nothing there.
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      dialog_(dialog) {
    setObjectName(QStringLiteral("mainDialog"));
    setFont(dialog_font(kMainDialogFont, true));
    units_ = base_units_of(font());
    setWindowTitle(to_qstring(kMainTemplateCaption));
    build_controls();
    resize(units_.to_pixels_x(kMainDialogWidth), units_.to_pixels_y(kMainDialogHeight));
    if (shift != nullptr) {
        shift_feeder_ = std::make_unique<ShiftFeeder>(*shift);
        qApp->installEventFilter(shift_feeder_.get());
    }
    dialog_.attach(*this);
}

MainWindow::~MainWindow() {
    if (shift_feeder_) qApp->removeEventFilter(shift_feeder_.get());
}

void MainWindow::build_controls() {
    for (const auto& item : kMainDialogControls) {
        QWidget* widget = make_control(item);
        widget->setGeometry(to_qrect(units_, item.rect));
        widget->setHidden(!item.visible);
        widget->setEnabled(item.enabled);
        widget->setProperty("controlId", item.id);
        if (item.id != kIdNone) {
            widget->setObjectName(QStringLiteral("control%1").arg(item.id));
            controls_[item.id] = widget;
        }
    }
}

QWidget* MainWindow::make_control(const ControlTemplate& item) {
    const QString text = to_qstring(item.text);
    switch (item.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(text, this);
            button->setDefault(item.kind == ControlKind::DefaultPushButton);
            const int id = item.id;
            connect(button, &QPushButton::clicked, this, [this, id] { dialog_.OnCommand(id); });
            return button;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);
            bar->setRange(0, 100);  // the platform's default range
            bar->setValue(0);
            return bar;
        }
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(text, this);
            edit->setReadOnly(true);
            return edit;
        }
        case ControlKind::StaticText:
        case ControlKind::WrappingText:
        case ControlKind::Icon: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(item.kind == ControlKind::WrappingText);
            return label;
        }
    }
    return new QWidget(this);
}

void MainWindow::open_window() {
    dialog_.OnInitDialog();
    show();
}

std::intptr_t MainWindow::run_modal() {
    dialog_.OnInitDialog();
    const int result = exec();
    dialog_.OnDestroy();
    return result;
}

QWidget* MainWindow::control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QProgressBar* MainWindow::progress_bar() const {
    return static_cast<QProgressBar*>(control(kIdProgress));
}

template <typename Call>
void MainWindow::on_gui_thread(Call call) {
    if (QThread::currentThread() == thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    }
}

void MainWindow::set_control_text(int id, const std::u16string& text) {
    on_gui_thread([this, id, text] {
        QWidget* widget = control(id);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            label->setText(display_text(text));
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            button->setText(to_qstring(text));
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            edit->setText(to_qstring(text));
        }
    });
}

void MainWindow::enable_control(int id, bool enabled) {
    on_gui_thread([this, id, enabled] {
        if (QWidget* widget = control(id)) widget->setEnabled(enabled);
    });
}

void MainWindow::set_progress_range(std::int32_t low, std::int32_t high) {
    on_gui_thread([this, low, high] {
        progress_bar()->setRange(low, high);
        set_progress_position(position_);
    });
}

// The bar refuses values outside its range; the platform's bar shows the nearer end.
void MainWindow::set_progress_position(std::int32_t position) {
    on_gui_thread([this, position] {
        position_ = position;
        QProgressBar* bar = progress_bar();
        bar->setValue(std::clamp(position, bar->minimum(), std::max(bar->minimum(), bar->maximum())));
    });
}

MessageAnswer MainWindow::message_box(const std::u16string& text, const std::u16string& caption,
                                      MessageIcon icon, MessageButtons buttons) {
    const QString qtext = to_qstring(text);
    const QString qcaption = to_qstring(caption);
    if (QThread::currentThread() == thread()) return show_message_box(qtext, qcaption, icon, buttons);
    MessageAnswer answer = MessageAnswer::Ok;
    QMetaObject::invokeMethod(
        this, [&] { answer = show_message_box(qtext, qcaption, icon, buttons); },
        Qt::BlockingQueuedConnection);
    return answer;
}

MessageAnswer MainWindow::show_message_box(const QString& text, const QString& caption,
                                           MessageIcon icon, MessageButtons buttons) {
    const bool yes_no = buttons == MessageButtons::YesNo;
    if (ended_) return yes_no ? MessageAnswer::No : MessageAnswer::Ok;
    QMessageBox box(qt_icon(icon), caption, text,
                    yes_no ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    if (yes_no) {
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    }
    const int answer = box.exec();
    if (!yes_no) return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<ChosenFile> MainWindow::choose_open_file(const std::u16string& filter_name,
                                                       const std::u16string& pattern) {
    QFileDialog chooser(this);
    chooser.setObjectName(QStringLiteral("openFile"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setNameFilter(to_qstring(filter_name) + QStringLiteral(" (") + to_qstring(pattern) +
                          QStringLiteral(")"));
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = chooser.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    // The name's bytes as the file system holds them.
    const QByteArray native = QFile::encodeName(chosen.front());
    return ChosenFile{from_qstring(chosen.front()), std::string(native.constData(), static_cast<std::size_t>(native.size()))};
}

void MainWindow::start_timer(std::uintptr_t id, std::uint32_t period_ms) {
    const int qt_id = startTimer(static_cast<int>(period_ms));
    if (qt_id != 0) timers_[qt_id] = id;
}

void MainWindow::timerEvent(QTimerEvent* event) {
    const auto found = timers_.find(event->timerId());
    if (found == timers_.end()) {
        QDialog::timerEvent(event);
        return;
    }
    dialog_.OnTimer(found->second);
}

void MainWindow::set_caption(const std::u16string& text) { setWindowTitle(to_qstring(text)); }

void MainWindow::set_application_icon() { setWindowIcon(application_icon()); }

void MainWindow::add_about_entry(std::uint32_t command, const std::u16string& text) {
    if (menu_ == nullptr) {
        menu_ = new QMenu(this);
        menu_->setObjectName(QStringLiteral("systemMenu"));
        menu_->setSeparatorsCollapsible(false);  // keep the leading separator, as the system menu has it
    }
    menu_->addSeparator();
    QAction* entry = menu_->addAction(to_qstring(text));
    connect(entry, &QAction::triggered, this, [this, command] { dialog_.OnSysCommand(command); });
}

void MainWindow::show_about_box() {
    AboutBox box(this);
    box.exec();
}

void MainWindow::end_dialog(std::intptr_t result) {
    ended_ = true;
    done(static_cast<int>(result));
}

void MainWindow::run_pending_calls() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The close box: the dialog decides.
void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    dialog_.OnClose();
}

// Escape is command 2; Enter, when no push button has the focus, command 1.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        dialog_.OnCommand(kIdCancel);
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        dialog_.OnCommand(kIdOk);
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (menu_ == nullptr) return;
    menu_->popup(event->globalPos());
}

void MainWindow::accept() { dialog_.OnCommand(kIdOk); }

void MainWindow::reject() { dialog_.OnCommand(kIdCancel); }

}  // namespace wxr::app::qt
