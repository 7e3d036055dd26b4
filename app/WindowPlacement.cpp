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
    const QSize size = window->sizeHint().expandedTo(window->size());
    QPoint corner = top->geometry().center() - QPoint(size.width() / 2, size.height() / 2);
    if (const QScreen* screen = top->screen()) {
        const QRect area = screen->availableGeometry();
        corner.setX(qBound(area.left(), corner.x(), qMax(area.left(), area.right() - size.width())));
        corner.setY(qBound(area.top(), corner.y(), qMax(area.top(), area.bottom() - size.height())));
    }
    window->move(corner);
}

}  // namespace korvane
