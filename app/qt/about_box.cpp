#include "app/qt/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "app/qt/app_icon.h"
#include "app/qt/dialog_units.h"
#include "app/qt/qt_text.h"

namespace wxr::app::qt {

namespace {

constexpr int kIconPixels = 32;  // the system's icon size, as a static icon control shows it

}  // namespace

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setFont(dialog_font(kAboutFont, false));
    units_ = base_units_of(font());
    setWindowTitle(to_qstring(kAboutCaption));
    setObjectName(QStringLiteral("about"));

    for (const auto& item : kAboutControls) {
        QWidget* widget = nullptr;
        switch (item.kind) {
            case ControlKind::Icon: {
                auto* icon = new QLabel(this);
                icon->setPixmap(application_icon().pixmap(kIconPixels, kIconPixels));
                icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = icon;
                break;
            }
            case ControlKind::DefaultPushButton: {
                ok_ = new QPushButton(to_qstring(item.text), this);
                ok_->setDefault(true);
                connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
                widget = ok_;
                break;
            }
            default: {
                auto* label = new QLabel(to_qstring(item.text), this);
                label->setTextFormat(Qt::PlainText);  // no mnemonic, no markup
                widget = label;
                break;
            }
        }
        widget->setGeometry(to_qrect(units_, item.rect));
    }
    setFixedSize(units_.to_pixels_x(kAboutWidth), units_.to_pixels_y(kAboutHeight));
    ok_->setFocus();
}

}  // namespace wxr::app::qt
