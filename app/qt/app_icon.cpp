#include "app/qt/app_icon.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>

namespace wxr::app::qt {

namespace {

constexpr auto kIconResource = ":/wxr7305.png";
constexpr int kIconSize = 32;

// A chip with an upward arrow: firmware going up into a device.
QPixmap drawn_icon() {
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(20, 60, 120), 1.5));
    painter.setBrush(QColor(40, 110, 200));
    painter.drawRoundedRect(QRectF(3.5, 3.5, 25, 25), 4, 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const QPointF arrow[] = {{16, 7}, {25, 17}, {19.5, 17}, {19.5, 25}, {12.5, 25}, {12.5, 17}, {7, 17}};
    painter.drawPolygon(arrow, 7);
    return pixmap;
}

}  // namespace

QIcon application_icon() {
    if (QFile::exists(kIconResource)) return QIcon(kIconResource);
    return QIcon(drawn_icon());
}

}  // namespace wxr::app::qt
