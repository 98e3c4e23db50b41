// Answers modal windows while a test waits: a polling timer finds the active
// modal widget and hands it to the test's handler, which must close it. A
// test that waits on a modal box would otherwise hang in its event loop.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <functional>
#include <vector>

namespace wxr::testing {

struct SeenBox {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    QString default_button;
    bool yes_no;
};

class ModalAnswerer final : public QObject {
public:
    static constexpr int kPollMs = 10;

    // Handles modal widgets that are not message boxes; null ignores them.
    std::function<void(QWidget*)> on_other;
    // Runs as a message box shows, before it is answered.
    std::function<void(const SeenBox&)> on_box;
    // Answers for Yes/No boxes; No when empty.
    std::deque<QMessageBox::StandardButton> yes_no_answers;
    std::vector<SeenBox> boxes;

    ModalAnswerer() {
        timer_.setInterval(kPollMs);
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            answer(box);
        } else if (on_other && modal->objectName() != QStringLiteral("mainDialog")) {
            on_other(modal);
        }
    }

    void answer(QMessageBox* box) {
        const bool yes_no = box->button(QMessageBox::Yes) != nullptr;
        const QPushButton* preferred = box->defaultButton();
        SeenBox seen{box->text(), box->windowTitle(), box->icon(), preferred ? preferred->text() : QString(),
                     yes_no};
        boxes.push_back(seen);
        if (on_box) on_box(seen);
        if (!yes_no) {
            box->button(QMessageBox::Ok)->click();
            return;
        }
        QMessageBox::StandardButton choice = QMessageBox::No;
        if (!yes_no_answers.empty()) {
            choice = yes_no_answers.front();
            yes_no_answers.pop_front();
        }
        box->button(choice)->click();
    }

    QTimer timer_;
};

}  // namespace wxr::testing
