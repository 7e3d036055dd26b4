#include "app/ProgressWindow.h"

#include "app/MainWindow.h"
#include "app/WindowPlacement.h"
#include "platform/MessagePump.h"
#include "job/CancelRequested.h"
#include "job/StatusMailbox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace korvane {
namespace {

QWidget* applicationMainWindow() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<MainWindow*>(top) != nullptr) return top;
    return nullptr;
}

QString controlName(int id) { return QString("ctl%1").arg(id); }

}  // namespace

QEvent::Type ProgressWindow::statusEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType(QEvent::User + 2));
    return type;
}

int ProgressWindow::nextBarPosition(int position) {
    const int next = position + kBarStep;
    return next > kBarHighest ? kBarLowest : next;
}

ProgressWindow::ProgressWindow(QWidget* owner)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      owner_(owner != nullptr ? owner->window() : applicationMainWindow()) {
    cancelRequested = false;
    setObjectName("progressWindow");
    setWindowTitle(kTitle);
    setModal(false);

    auto* pleaseWait = new QLabel("Please Wait.", this);
    pleaseWait->setAlignment(Qt::AlignCenter);
    auto* processing = new QLabel("Processing . . .", this);
    processing->setAlignment(Qt::AlignCenter);
    status_ = new QLabel(this);
    status_->setObjectName(controlName(kStatusLine));
    status_->setAlignment(Qt::AlignCenter);
    status_->setMinimumWidth(300);
    // A text wider than the screen wraps; see fitStatusLine.
    status_->setWordWrap(true);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(controlName(kProgressBar));
    bar_->setRange(kBarLowest, kBarHighest);
    bar_->setTextVisible(false);
    bar_->setFocusPolicy(Qt::StrongFocus);  // so Enter never lands on Cancel
    cancel_ = new QPushButton(QString::fromLatin1(kCancelCaption).replace('\r', '\n'), this);
    cancel_->setObjectName(controlName(kCancel));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &ProgressWindow::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pleaseWait);
    layout->addWidget(processing);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);

    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &ProgressWindow::advanceBar);

    if (owner_ != nullptr && owner_->isEnabled()) {
        owner_->setEnabled(false);
        ownerDisabled_ = true;
    }
    placeOver(this, owner_);
    // The poster's thread only queues an event; the text is fetched here.
    handle_ = ProgressWindowHandle::open([this] { QCoreApplication::postEvent(this, new QEvent(statusEventType())); });
}

ProgressWindow::~ProgressWindow() {
    handle_.retire();
    timer_.stop();
    if (ownerDisabled_ && owner_ != nullptr) owner_->setEnabled(true);
}

QWidget* ProgressWindow::control(int id) const { return findChild<QWidget*>(controlName(id)); }

bool ProgressWindow::pumpAndTakeCancel() {
    pumpMessages();
    return cancelPressed_.exchange(false);
}

void ProgressWindow::reject() {
    if (!cancel_->isEnabled()) return;
    cancel_->setEnabled(false);
    cancel_->setText(kCancelSentCaption);
    cancelPressed_ = true;
    cancelRequested = true;
}

void ProgressWindow::advanceBar() { bar_->setValue(nextBarPosition(bar_->value())); }

bool ProgressWindow::event(QEvent* event) {
    if (event->type() == statusEventType()) {
        copyStatusFromMailbox();
        return true;
    }
    return QDialog::event(event);
}

void ProgressWindow::copyStatusFromMailbox() {
    status_->setText(QString::fromLatin1(StatusMailbox::processWide().text().c_str()));
    fitStatusLine();
}

void ProgressWindow::fitStatusLine() {
    int widest = 0;
    for (const QString& line : status_->text().split('\n'))
        widest = qMax(widest, status_->fontMetrics().horizontalAdvance(line));
    // One pixel more than the text needs: a label cut to the pixel wraps its last word.
    int wanted = width() - status_->contentsRect().width() + widest + 1;
    if (const QScreen* screen = this->screen()) {
        const int frame = frameGeometry().width() - width();
        wanted = qMin(wanted, screen->availableGeometry().width() - frame);
    }
    const int newWidth = qMax(width(), wanted);
    layout()->activate();
    const int newHeight = qMax(height(), hasHeightForWidth() ? heightForWidth(newWidth) : sizeHint().height());
    if (newWidth == width() && newHeight == height()) return;
    resize(newWidth, newHeight);
    placeOver(this, owner_);
}

void ProgressWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    bar_->setFocus();
    bar_->reset();  // below the lowest: an empty bar, position 0
    timer_.start();
    cancel_->setEnabled(true);
}

void ProgressWindow::hideEvent(QHideEvent* event) {
    timer_.stop();
    QDialog::hideEvent(event);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    // The window has no close box; a close request from elsewhere is a Cancel.
    reject();
    event->ignore();
}

}  // namespace korvane
