#include "app/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

#include "app/qt/qt_text.h"

namespace wxr::app::qt {

QFont dialog_font(const DialogFontSpec& spec, bool fixed_pitch) {
    QFont font(to_qstring(spec.family));
    font.setStyleHint(fixed_pitch ? QFont::Monospace : QFont::SansSerif);
    font.setPointSize(spec.point_size);
    if (fixed_pitch && !QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(spec.point_size);
    }
    return font;
}

DialogBaseUnits base_units_of(const QFont& font) {
    const QFontMetrics metrics(font);
    return {metrics.averageCharWidth(), metrics.height()};
}

}  // namespace wxr::app::qt
