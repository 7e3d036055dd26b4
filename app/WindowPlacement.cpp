#include "app/WindowPlacement.h"

#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace korvane {

void placeOver(QWidget* window, QWidget* owner) {
    if (owner == nullptr) return;
    QWidget* top = owner->window();
    window->winId();  // makes the native window, so it can take a transient parent
    top->winId();
    if (window->windowHandle() != nullptr) window->windowHandle()->setTransientParent(top->windowHandle());
    // Before its first show a window has Qt's default size, not its own.
    if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
    const QSize size = window->size();
    QPoint corner = top->geometry().center() - QPoint(size.width() / 2, size.height() / 2);
    if (const QScreen* screen = top->screen()) {
        const QRect area = screen->availableGeometry();
        corner.setX(qBound(area.left(), corner.x(), qMax(area.left(), area.right() - size.width())));
        corner.setY(qBound(area.top(), corner.y(), qMax(area.top(), area.bottom() - size.height())));
    }
    window->move(corner);
}

}  // namespace korvane
