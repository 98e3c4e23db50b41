// Dialog units from a dialog font's metrics: a horizontal unit is a quarter of
// the average character width, a vertical unit an eighth of the height.
#pragma once

#include <QFont>
#include <QRect>

#include "app/dialog_template.h"

namespace wxr::app::qt {

// The template's font; a family this system lacks falls back to one of the
// same kind (a fixed-pitch family for a fixed-pitch request).
QFont dialog_font(const DialogFontSpec& spec, bool fixed_pitch);

DialogBaseUnits base_units_of(const QFont& font);

inline QRect to_qrect(const DialogBaseUnits& units, const DialogRect& rect) {
    const DialogRect px = units.to_pixels(rect);
    return {px.x, px.y, px.width, px.height};
}

}  // namespace wxr::app::qt
