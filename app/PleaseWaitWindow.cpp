#include "app/PleaseWaitWindow.h"

#include <QLabel>
#include <QVBoxLayout>

namespace korvane {

PleaseWaitWindow::PleaseWaitWindow(QWidget* owner)
    : QFrame(owner, Qt::Tool | Qt::FramelessWindowHint), owner_(owner) {
    setObjectName("pleaseWaitWindow");
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(this);
    text_->setObjectName("ctl1005");
    text_->setAlignment(Qt::AlignCenter);
    auto* wait = new QLabel("Please Wait . . .", this);
    wait->setAlignment(Qt::AlignCenter);
    layout->addWidget(text_);
    layout->addWidget(wait);
    setMinimumWidth(320);
    if (owner_ != nullptr && owner_->isEnabled()) {
        owner_->setEnabled(false);
        ownerDisabled_ = true;
    }
    if (owner_ != nullptr) move(owner_->geometry().center() - QPoint(sizeHint().width() / 2, sizeHint().height() / 2));
    show();
}

PleaseWaitWindow::~PleaseWaitWindow() {
    if (ownerDisabled_ && owner_ != nullptr) owner_->setEnabled(true);
}

void PleaseWaitWindow::setText(const QString& text) {
    text_->setText(text);
    repaint();
}

QString PleaseWaitWindow::text() const { return text_->text(); }

}  // namespace korvane
