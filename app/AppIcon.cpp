#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace korvane {
namespace {

QPixmap drawPad(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 32.0;
    // Body, display and a 3 x 4 key block.
    painter.setPen(QPen(QColor(20, 30, 45), unit));
    painter.setBrush(QColor(45, 62, 88));
    painter.drawRoundedRect(QRectF(5 * unit, 1 * unit, 22 * unit, 30 * unit), 3 * unit, 3 * unit);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(140, 210, 160));
    painter.drawRect(QRectF(8 * unit, 4 * unit, 16 * unit, 7 * unit));
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column) {
            const bool enterKey = row == 3 && column == 2;
            painter.setBrush(enterKey ? QColor(60, 170, 80) : QColor(225, 228, 232));
            painter.drawRoundedRect(QRectF((8 + column * 5.5) * unit, (13.5 + row * 4.2) * unit, 4.5 * unit, 3.2 * unit),
                                    unit, unit);
        }
    }
    return pixmap;
}

}  // namespace

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) icon.addPixmap(drawPad(size));
    return icon;
}

}  // namespace korvane
