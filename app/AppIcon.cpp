#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace korvane {

QImage appIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
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
    painter.end();
    return image;
}

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return icon;
}

}  // namespace korvane
