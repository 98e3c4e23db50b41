#include "app/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include "app/qt/qt_text.h"

namespace wxr::app::qt {

namespace {

// Stand-ins for the Windows dialog fonts: DejaVu Sans Mono 9 pt has the
// character cell of Consolas 9 pt, so the dialog keeps its Windows size.
const QString kFixedStandIn = QStringLiteral("DejaVu Sans Mono");
const QString kProportionalStandIn = QStringLiteral("DejaVu Sans");

QFont sized(QFont font, int point_size) {
    font.setPointSize(point_size);
    return font;
}

}  // namespace

QFont dialog_font(const DialogFontSpec& spec, bool fixed_pitch) {
    const QString wanted = to_qstring(spec.family);
    const QStringList families = QFontDatabase::families();
    if (families.contains(wanted, Qt::CaseInsensitive)) return sized(QFont(wanted), spec.point_size);
    const QString& stand_in = fixed_pitch ? kFixedStandIn : kProportionalStandIn;
    if (families.contains(stand_in)) return sized(QFont(stand_in), spec.point_size);
    return sized(QFontDatabase::systemFont(fixed_pitch ? QFontDatabase::FixedFont : QFontDatabase::GeneralFont),
                 spec.point_size);
}

DialogBaseUnits base_units_of(const QFont& font) {
    const QFontMetrics metrics(font);
    return {metrics.averageCharWidth(), metrics.height()};
}

}  // namespace wxr::app::qt
