// Between the dialog's UTF-16 texts and Qt's.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace wxr::app::qt {

inline QString to_qstring(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::u16string from_qstring(const QString& text) { return text.toStdU16String(); }

}  // namespace wxr::app::qt
