#include "app/PleaseWaitWindow.h"

#include "app/WindowPlacement.h"

#include <QLabel>
#include <QVBoxLayout>

namespace korvane {

PleaseWaitWindow::PleaseWaitWindow(QWidget* owner)
    // Not a Qt child of its owner: it would be greyed out with it.
    : QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus), owner_(owner) {
    // The owner keeps the keyboard for when it is given back.
    setAttribute(Qt::WA_ShowWithoutActivating);
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
    placeOver(this, owner_);
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
