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
const QStringList kFixedStandIns{QStringLiteral("DejaVu Sans Mono")};
// Liberation Sans has the metrics of the Windows sans-serif faces.
const QStringList kProportionalStandIns{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};

const QString kAverageWidthSample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
constexpr int kAverageWidthPairs = 26;  // the sample's width / 26 is twice the average

QFont sized(QFont font, int point_size) {
    font.setPointSize(point_size);
    return font;
}

}  // namespace

QFont dialog_font(const DialogFontSpec& spec, bool fixed_pitch) {
    const QString wanted = to_qstring(spec.family);
    const QStringList families = QFontDatabase::families();
    if (families.contains(wanted, Qt::CaseInsensitive)) return sized(QFont(wanted), spec.point_size);
    for (const QString& stand_in : fixed_pitch ? kFixedStandIns : kProportionalStandIns) {
        if (families.contains(stand_in)) return sized(QFont(stand_in), spec.point_size);
    }
    return sized(QFontDatabase::systemFont(fixed_pitch ? QFontDatabase::FixedFont : QFontDatabase::GeneralFont),
                 spec.point_size);
}

// The average character width as the platform's dialogs measure it: the
// letters A-Z and a-z, averaged and rounded.
DialogBaseUnits base_units_of(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(kAverageWidthSample);
    return {(letters / kAverageWidthPairs + 1) / 2, metrics.height()};
}

}  // namespace wxr::app::qt
