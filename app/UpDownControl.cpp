#include "app/UpDownControl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace korvane {

UpDownControl::UpDownControl(QLineEdit* buddy, QWidget* parent) : QWidget(parent), buddy_(buddy) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    up_->setAutoRepeat(true);
    up_->setFocusPolicy(Qt::NoFocus);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    down_->setAutoRepeat(true);
    down_->setFocusPolicy(Qt::NoFocus);
    const int height = std::max(buddy->sizeHint().height() / 2, 8);
    for (QToolButton* button : {up_, down_}) button->setFixedSize(height + 6, height);
    layout->addWidget(up_);
    layout->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, [this] { step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
    buddy_->installEventFilter(this);
}

void UpDownControl::setRange(int lowest, int highest) {
    lowest_ = std::min(lowest, highest);
    highest_ = std::max(lowest, highest);
}

void UpDownControl::step(int steps) {
    bool isNumber = false;
    int value = buddy_->text().trimmed().toInt(&isNumber);
    if (!isNumber) value = lowest_;
    else value = std::clamp(value + steps, lowest_, highest_);
    buddy_->setText(QString::number(value));
}

bool UpDownControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace korvane
