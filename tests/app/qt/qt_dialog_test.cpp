// The Qt front-end, headless (QT_QPA_PLATFORM=offscreen), on the simulated
// device and the virtual clock.
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <fstream>
#include <memory>

#include "../dialog_bench.h"
#include "app/application.h"
#include "app/qt/about_box.h"
#include "app/qt/dialog_units.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "app/qt/qt_text.h"
#include "image/image_info.h"
#include "modal_answerer.h"

namespace wxr::testing {

using app::qt::MainWindow;
using app::qt::to_qstring;

namespace {

const QString kAppName = QStringLiteral("WXR7305_Upgrade_Tool");
const QString kSuccess =
    QStringLiteral("Firmware upgrade successful.\nPlease turn off the device. Then turn on again.");
constexpr int kEmbeddedRange = 2416;

// The dialog in its Qt window, shown without a modal run.
struct QtBench {
    VirtualClock clock;
    sim::SimHid sim{clock};
    LatchedHid latched{sim};
    LocalNamedMutexFactory mutexes;
    FedShiftKeyState shift;
    std::unique_ptr<app::CWXR7305_Upgrade_ToolDlg> dialog;
    std::unique_ptr<MainWindow> window;

    void add_device(sim::Identity identity = {}) {
        sim.add_interface({.path = u"sim" + std::u16string(1, char16_t(u'0' + sim.interface_count())),
                           .identity = identity});
    }
    void start(bool latch = false) {
        HidPlatform& hid = latch ? static_cast<HidPlatform&>(latched) : sim;
        dialog = std::make_unique<app::CWXR7305_Upgrade_ToolDlg>(
            app::ToolEnvironment{hid, clock, mutexes, shift, kTestAppName});
        window = std::make_unique<MainWindow>(*dialog, &shift);
        window->open_window();
    }
    QPushButton* button(int id) const { return qobject_cast<QPushButton*>(window->control(id)); }
    QProgressBar* bar() const { return window->progress_bar(); }

    ~QtBench() {
        latched.release();
        if (dialog) dialog->OnDestroy();
    }
};

QPoint centre_of(QWidget* widget) { return widget->rect().center(); }

}  // namespace

class QtDialogTest : public QObject {
    Q_OBJECT

private slots:
    void layoutIsInDialogUnitsOfTheDialogFont();
    void resizingLeavesControlsInPlace();
    void startUpState();
    void escapeAndEnterLeaveItOpenTheCloseBoxEndsIt();
    void contextMenuHoldsTheAboutEntry();
    void aboutEntryOpensTheAboutBox();
    void upgradeOnTheSimulatedDevice();
    void noDeviceSaysDeviceNotFound();
    void anotherModelThroughShiftGivesTheErrorBox();
    void closeDuringUpgradeAsksAndNoKeepsIt();
    void closeDuringUpgradeYesEndsWithoutAResultBox();
    void openFileUsesTheBinaryFilter();
    void openFileShowsTheInfoText();
    void startUpRunsTheDialogModallyUntilClosed();
};

void QtDialogTest::layoutIsInDialogUnitsOfTheDialogFont() {
    QtBench bench;
    bench.start();
    const QFont font = bench.window->font();
    QCOMPARE(QFontInfo(font).pointSize(), 9);
    const QString family = QFontInfo(font).family();
    if (!QFontDatabase::families().contains(QStringLiteral("Consolas")) &&
        QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Mono"))) {
        QCOMPARE(family, QStringLiteral("DejaVu Sans Mono"));
    }
    const QFontMetrics metrics(font);
    const auto units = bench.window->base_units();
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(units.x, (letters / 26 + 1) / 2);
    QCOMPARE(units.y, metrics.height());
    QCOMPARE(bench.window->size(), QSize(units.to_pixels_x(320), units.to_pixels_y(139)));
    // DejaVu Sans Mono 9 pt at 96 dpi, the stand-in here, gives the Windows dialog's size.
    if (family == QStringLiteral("DejaVu Sans Mono") && QFontInfo(font).pixelSize() == 12) {
        QCOMPARE(bench.window->size(), QSize(560, 243));
    }
    for (const auto& item : app::kMainDialogControls) {
        if (item.id == app::kIdNone) continue;
        QWidget* control = bench.window->control(item.id);
        QVERIFY2(control != nullptr, qPrintable(QString::number(item.id)));
        QCOMPARE(control->geometry(), app::qt::to_qrect(units, item.rect));
    }
    QCOMPARE(bench.window->control(app::kIdCheckAndUpgrade)->geometry(),
             QRect(units.to_pixels_x(7), units.to_pixels_y(96), units.to_pixels_x(306), units.to_pixels_y(25)));
}

void QtDialogTest::resizingLeavesControlsInPlace() {
    QtBench bench;
    bench.start();
    std::vector<QRect> before;
    for (const auto& item : app::kMainDialogControls) {
        if (item.id != app::kIdNone) before.push_back(bench.window->control(item.id)->geometry());
    }
    bench.window->resize(900, 500);
    QCOMPARE(bench.window->size(), QSize(900, 500));
    std::size_t i = 0;
    for (const auto& item : app::kMainDialogControls) {
        if (item.id != app::kIdNone) QCOMPARE(bench.window->control(item.id)->geometry(), before[i++]);
    }
}

void QtDialogTest::startUpState() {
    QtBench bench;
    bench.start();
    QCOMPARE(bench.window->windowTitle(), QStringLiteral("ZQ-HLKD4/700-ZQ315 upgrade tool"));
    const Qt::WindowFlags flags = bench.window->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);  // its own task bar entry
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!bench.window->windowIcon().isNull());
    auto* text = qobject_cast<QLabel*>(bench.window->control(app::kIdTextArea));
    QCOMPARE(text->text(), QStringLiteral("Improve compatibility. "));
    QVERIFY(text->wordWrap());
    QCOMPARE(qobject_cast<QLabel*>(bench.window->control(app::kIdStatusText))->text(), QString());
    QCOMPARE(bench.dialog->expected_model(), std::uint8_t{16});

    for (const auto& item : app::kMainDialogControls) {
        const auto found = bench.window->findChildren<QWidget*>();
        for (QWidget* widget : found) {
            if (widget->property("controlId").toInt() != item.id) continue;
            if (item.id == app::kIdNone && qobject_cast<QLabel*>(widget)->text() != to_qstring(item.text)) continue;
            QVERIFY2(widget->isVisible() == item.visible, qPrintable(QString::number(item.id)));
            QVERIFY2(widget->isEnabled() == item.enabled, qPrintable(QString::number(item.id)));
        }
    }
    QVERIFY(bench.button(app::kIdOk)->isDefault());
    QCOMPARE(bench.button(app::kIdCheckAndUpgrade)->text(), QStringLiteral("Check and Upgrade"));
    QCOMPARE(bench.bar()->value(), 0);
    QVERIFY(!bench.bar()->isTextVisible());
}

void QtDialogTest::escapeAndEnterLeaveItOpenTheCloseBoxEndsIt() {
    QtBench bench;
    bench.start();
    QVERIFY(QTest::qWaitForWindowExposed(bench.window.get()));
    QSignalSpy finished(bench.window.get(), &QDialog::finished);
    QTest::keyClick(bench.window.get(), Qt::Key_Escape);
    QTest::keyClick(bench.window.get(), Qt::Key_Return);
    QVERIFY(bench.window->isVisible());
    QCOMPARE(finished.count(), 0);
    QVERIFY(!bench.dialog->close_requested());

    bench.window->windowHandle()->close();  // the close box
    QVERIFY(!bench.window->isVisible());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 2);
    QVERIFY(bench.dialog->close_requested());
}

void QtDialogTest::contextMenuHoldsTheAboutEntry() {
    QtBench bench;
    bench.start();
    QVERIFY(QTest::qWaitForWindowExposed(bench.window.get()));
    QMenu* menu = bench.window->context_menu();
    QVERIFY(menu != nullptr);
    const auto actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QVERIFY(actions[0]->isSeparator());
    QCOMPARE(actions[1]->text(), QStringLiteral("關於 WXR7305_Upgrade_Tool(&A)..."));

    // Through the window: only the window system's events make context-menu events.
    QTest::mouseClick(bench.window->windowHandle(), Qt::RightButton, {}, QPoint(20, 20));
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 2000);
    menu->hide();
    QVERIFY(!menu->isVisible());
    // The Menu key: the X11 platform turns it into this event; offscreen does not.
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5), bench.window->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(bench.window.get(), &key);
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 2000);
    menu->hide();
}

void QtDialogTest::aboutEntryOpensTheAboutBox() {
    QtBench bench;
    bench.start();
    ModalAnswerer answerer;
    QString caption;
    QStringList texts;
    QString ok_text;
    answerer.on_other = [&](QWidget* modal) {
        auto* about = dynamic_cast<app::qt::AboutBox*>(modal);
        if (about == nullptr) return;
        caption = about->windowTitle();
        for (auto* label : about->findChildren<QLabel*>()) {
            if (label->text().isEmpty()) continue;
            texts << label->text();
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));  // not clipped
        }
        ok_text = about->ok_button()->text();
        QVERIFY(about->ok_button()->isDefault());
        about->ok_button()->click();
    };
    bench.window->context_menu()->actions()[1]->trigger();  // returns once the box is closed
    QCOMPARE(caption, QStringLiteral("關於 WXR7305_Upgrade_Tool"));
    QVERIFY(texts.contains(QStringLiteral("WXR7305_Upgrade_Tool, 1.0 版")));
    QCOMPARE(texts.size(), 2);
    QCOMPARE(ok_text, QStringLiteral("確定"));
    QVERIFY(bench.window->isVisible());
}

void QtDialogTest::upgradeOnTheSimulatedDevice() {
    QtBench bench;
    bench.add_device();
    bench.start();
    ModalAnswerer answerer;
    bool button_enabled_under_box = true;
    answerer.on_box = [&](const SeenBox&) {
        button_enabled_under_box = bench.button(app::kIdCheckAndUpgrade)->isEnabled();
    };
    QPushButton* button = bench.button(app::kIdCheckAndUpgrade);

    for (int run = 0; run < 2; ++run) {
        QSignalSpy values(bench.bar(), &QProgressBar::valueChanged);
        QTest::mouseClick(button, Qt::LeftButton, {}, centre_of(button));
        QCOMPARE(bench.bar()->minimum(), 0);
        QCOMPARE(bench.bar()->maximum(), kEmbeddedRange);
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(bench.bar()->value(), kEmbeddedRange, 5000);  // the count passes the range
        if (run == 1) {
            QVERIFY(!values.isEmpty());
            QCOMPARE(values.first().first().toInt(), 0);  // reset at once, before any tick
        }
    }
    QCOMPARE(answerer.boxes.size(), std::size_t{2});
    QCOMPARE(answerer.boxes[0].text, kSuccess);
    QCOMPARE(answerer.boxes[0].caption, kAppName);
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(!button_enabled_under_box);
    QVERIFY(bench.sim.model(0).end_report()->matches_flash);
}

void QtDialogTest::noDeviceSaysDeviceNotFound() {
    QtBench bench;
    bench.start();
    ModalAnswerer answerer;
    QSignalSpy values(bench.bar(), &QProgressBar::valueChanged);
    QPushButton* button = bench.button(app::kIdCheckAndUpgrade);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre_of(button));
    QCOMPARE(answerer.boxes.size(), std::size_t{1});
    QCOMPARE(answerer.boxes[0].text, QStringLiteral("Device not found!!"));
    QCOMPARE(answerer.boxes[0].caption, kAppName);
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::NoIcon);
    QVERIFY(button->isEnabled());
    QCOMPARE(bench.bar()->maximum(), 100);
    QCOMPARE(values.count(), 0);
}

void QtDialogTest::anotherModelThroughShiftGivesTheErrorBox() {
    QtBench bench;
    bench.add_device({.version = 57, .model = 17, .sensor = 3});
    bench.start();
    QVERIFY(QTest::qWaitForWindowExposed(bench.window.get()));
    ModalAnswerer answerer;
    QTest::keyClick(bench.window.get(), Qt::Key_Shift);  // the override lists it
    QPushButton* button = bench.button(app::kIdCheckAndUpgrade);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre_of(button));
    QCOMPARE(answerer.boxes.size(), std::size_t{1});
    QCOMPARE(answerer.boxes[0].text, QStringLiteral("機種不符!! "));
    QCOMPARE(answerer.boxes[0].caption, QStringLiteral("Error"));
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(bench.sim.model(0).counters().start_reports, std::size_t{0});
}

void QtDialogTest::closeDuringUpgradeAsksAndNoKeepsIt() {
    QtBench bench;
    bench.add_device();
    bench.start(true);
    ModalAnswerer answerer;
    QPushButton* button = bench.button(app::kIdCheckAndUpgrade);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre_of(button));
    QVERIFY(bench.latched.wait_until_held());

    bench.window->windowHandle()->close();  // answered No
    QCOMPARE(answerer.boxes.size(), std::size_t{1});
    QCOMPARE(answerer.boxes[0].text,
             QStringLiteral("An upgrade is in progress. Closing now can leave the device unusable.\nClose anyway?"));
    QVERIFY(answerer.boxes[0].yes_no);
    QCOMPARE(answerer.boxes[0].default_button, QStringLiteral("&No"));
    QVERIFY(bench.window->isVisible());
    QVERIFY(!bench.dialog->close_requested());

    bench.latched.release();
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 15000);
    QCOMPARE(answerer.boxes.back().text, kSuccess);
}

void QtDialogTest::closeDuringUpgradeYesEndsWithoutAResultBox() {
    QtBench bench;
    bench.add_device();
    bench.start(true);
    ModalAnswerer answerer;
    answerer.yes_no_answers.push_back(QMessageBox::Yes);
    QPushButton* button = bench.button(app::kIdCheckAndUpgrade);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre_of(button));
    QVERIFY(bench.latched.wait_until_held());

    bench.window->windowHandle()->close();
    QVERIFY(!bench.window->isVisible());
    QVERIFY(bench.dialog->close_requested());
    bench.latched.release();    // the held write ends; nothing new opens
    bench.dialog->OnDestroy();  // as the modal run's end does: joins the worker
    QVERIFY(bench.dialog->worker_finished());
    QCOMPARE(answerer.boxes.size(), std::size_t{1});  // the question only
    QVERIFY(!bench.sim.model(0).end_report().has_value());
}

void QtDialogTest::openFileUsesTheBinaryFilter() {
    QtBench bench;
    bench.start();
    ModalAnswerer answerer;
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    answerer.on_other = [&](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        if (chooser == nullptr) return;
        filters = chooser->nameFilters();
        mode = chooser->fileMode();
        chooser->reject();
    };
    bench.dialog->OnCommand(app::kIdOpenFile);
    QCOMPARE(filters, QStringList{QStringLiteral("binary File (*.bin)")});
    QCOMPARE(mode, QFileDialog::ExistingFile);
    QCOMPARE(qobject_cast<QLineEdit*>(bench.window->control(app::kIdPathField))->text(), QString());
    QVERIFY(bench.button(app::kIdCheckAndUpgrade)->isEnabled());
}

void QtDialogTest::openFileShowsTheInfoText() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("customer.bin"));
    {
        std::vector<char> bytes(400, 0);
        const std::size_t p = 200;
        bytes[p - 20] = bytes[p - 19] = 0x12;
        const char customer[] = "Demo";
        std::copy(customer, customer + 4, bytes.begin() + p - 16);
        const char block[] = {0x0C, 0x12, 0x03, 0x05, 18, 9, 2};
        std::copy(block, block + 7, bytes.begin() + p);
        std::ofstream(path.toStdString(), std::ios::binary).write(bytes.data(), 400);
    }
    QtBench bench;
    bench.start();
    ModalAnswerer answerer;
    answerer.on_other = [&](QWidget* modal) {
        if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            // Typed, as a person would: selectFile() leaves a focused name field alone.
            if (auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                name->setText(path);
            } else {
                chooser->selectFile(path);
            }
            QMetaObject::invokeMethod(chooser, "accept");
        }
    };
    bench.dialog->OnCommand(app::kIdOpenFile);
    QCOMPARE(qobject_cast<QLineEdit*>(bench.window->control(app::kIdPathField))->text(), path);
    const QString text = qobject_cast<QLabel*>(bench.window->control(app::kIdTextArea))->text();
    QVERIFY2(text.startsWith(QStringLiteral("Customer: Demo\nSize: 400 bytes\nModel: TQ18\n")), qPrintable(text));
    QVERIFY(text.endsWith(QStringLiteral("Sensor: LX200")));
    QCOMPARE(bench.dialog->expected_model(), std::uint8_t{18});
    QVERIFY(bench.button(app::kIdCheckAndUpgrade)->isEnabled());
}

void QtDialogTest::startUpRunsTheDialogModallyUntilClosed() {
    VirtualClock clock;
    sim::SimHid sim(clock);
    LocalNamedMutexFactory mutexes;
    FedShiftKeyState shift;
    app::qt::QtAppPlatform platform(&shift);
    app::CWXR7305_Upgrade_ToolApp application(platform, {sim, clock, mutexes, shift, kTestAppName});

    QString caption;
    QTimer closer;
    closer.setInterval(ModalAnswerer::kPollMs);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* main = dynamic_cast<MainWindow*>(QApplication::activeModalWidget());
        if (main == nullptr || !main->isVisible()) return;
        caption = main->windowTitle();
        QTest::keyClick(main, Qt::Key_Escape);  // ignored
        if (main->isVisible()) main->windowHandle()->close();
    });
    closer.start();
    QVERIFY(!application.InitInstance());
    QCOMPARE(caption, QStringLiteral("ZQ-HLKD4/700-ZQ315 upgrade tool"));
}

}  // namespace wxr::testing

QTEST_MAIN(wxr::testing::QtDialogTest)
#include "qt_dialog_test.moc"
