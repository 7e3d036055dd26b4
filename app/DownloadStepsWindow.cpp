#include "app/DownloadStepsWindow.h"

#include "app/StepPictures.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

namespace korvane {
namespace {

QString controlName(int id) { return QString("ctl%1").arg(id); }

constexpr int kRowHeight = kStepsContentHeight / DownloadStepsWindow::kStepCount;
constexpr int kTopMargin = (kStepsContentHeight - kRowHeight * DownloadStepsWindow::kStepCount) / 2;

ScrollCode scrollCodeOf(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return ScrollCode::lineUp;
    case QAbstractSlider::SliderSingleStepAdd: return ScrollCode::lineDown;
    case QAbstractSlider::SliderPageStepSub: return ScrollCode::pageUp;
    case QAbstractSlider::SliderPageStepAdd: return ScrollCode::pageDown;
    case QAbstractSlider::SliderToMinimum: return ScrollCode::top;
    case QAbstractSlider::SliderToMaximum: return ScrollCode::bottom;
    default: return ScrollCode::endScroll;
    }
}

}  // namespace

// The pad maker's factory password for the Terminal Manager and group 1, as keys.
#define KORVANE_FACTORY_PASSWORD_LINE "    Typically 1,Alpha,Alpha,6,6,8,3,1"

const char* const DownloadStepsWindow::kStepTexts[kStepCount] = {
    "1. Press F2 and F4 simultaneously",
    "2. Enter Terminal Manager password\n" KORVANE_FACTORY_PASSWORD_LINE,
    "3. Select Download",
    "4. Select Group ID 1",
    "5. Enter GID 1 Password\n" KORVANE_FACTORY_PASSWORD_LINE,
    "6. Select Single-app",
    "7. Select Full dnld",
    "8. Select Communication Type\n   Typically USB Dev (on second page)",
    "",
    "10. Device is ready to receive download",
};

#undef KORVANE_FACTORY_PASSWORD_LINE

DownloadStepsWindow::DownloadStepsWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("downloadStepsWindow");
    setWindowTitle(kTitle);
    setSizeGripEnabled(true);

    viewport_ = new QWidget(this);
    viewport_->setObjectName("stepsViewport");
    viewport_->installEventFilter(this);
    content_ = new QWidget(viewport_);
    content_->setObjectName("stepsContent");
    content_->setFixedHeight(kStepsContentHeight);
    for (int step = 0; step < kStepCount; ++step) {
        const int top = kTopMargin + step * kRowHeight + (kRowHeight - kStepPictureHeight) / 2;
        auto* picture = new QLabel(content_);
        picture->setObjectName(QString("stepPicture%1").arg(step + 1));
        picture->setPixmap(stepPicture(step));
        picture->setGeometry(8, top, kStepPictureWidth, kStepPictureHeight);
        auto* text = new QLabel(QString::fromLatin1(kStepTexts[step]), content_);
        text->setObjectName(QString("stepText%1").arg(step + 1));
        text->setTextFormat(Qt::PlainText);
        text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        text->setGeometry(8 + kStepPictureWidth + 16, top, 420, kStepPictureHeight);
    }

    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setObjectName("stepsScrollBar");
    scrollBar_->setTracking(false);  // the content follows the thumb when it is let go
    connect(scrollBar_, &QScrollBar::actionTriggered, this, &DownloadStepsWindow::onScrollAction);

    auto* cancel = new QPushButton("CANCEL", this);
    cancel->setObjectName(controlName(kCancel));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* download = new QPushButton("DOWNLOAD", this);
    download->setObjectName(controlName(kDownload));
    download->setDefault(true);
    connect(download, &QPushButton::clicked, this, &QDialog::accept);

    auto* scrolled = new QHBoxLayout;
    scrolled->setSpacing(0);
    scrolled->addWidget(viewport_, 1);
    scrolled->addWidget(scrollBar_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(download);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(scrolled, 1);
    layout->addLayout(buttons);

    // Opening: the template's size, shortened when the content cannot fit the screen.
    QSize size = templateSize();
    const QScreen* screen = parent != nullptr && parent->screen() != nullptr ? parent->screen()
                                                                               : QGuiApplication::primaryScreen();
    if (screen != nullptr) size.setHeight(stepsWindowHeight(size.height(), screen->availableGeometry().height()));
    resize(size);
    windowRect_ = geometry();
    scrollOffset_ = 0;
    takeClientHeight(0);
}

QSize DownloadStepsWindow::templateSize() const {
    // Dialog units: a quarter of the average character width, an eighth of the line height.
    const QFontMetrics metrics(font());
    return {kTemplateWidthDlu * metrics.averageCharWidth() / 4, kTemplateHeightDlu * metrics.height() / 8};
}

QWidget* DownloadStepsWindow::control(int id) const { return findChild<QWidget*>(controlName(id)); }

void DownloadStepsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (opened_) return;
    opened_ = true;
    windowRect_ = geometry();
}

bool DownloadStepsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport_ && event->type() == QEvent::Resize) {
        content_->setFixedWidth(viewport_->width());
        takeClientHeight(viewport_->height());
    }
    return QDialog::eventFilter(watched, event);
}

void DownloadStepsWindow::takeClientHeight(int height) {
    // The offset stays as it is; only the bar is set up anew.
    clientHeight_ = height;
    const StepsScrollBar bar = stepsScrollBar(height);
    scrollBar_->setRange(0, bar.maximum);
    scrollBar_->setPageStep(bar.pageSize);
    scrollBar_->setSingleStep(bar.maximum / 100 > 0 ? bar.maximum / 100 : 1);
    scrollBar_->setValue(0);
    scrollBar_->setSliderPosition(0);
    scrollBar_->setEnabled(bar.enabled);
    scrollBar_->setVisible(true);
}

void DownloadStepsWindow::onScrollAction(int action) {
    if (applyingMove_) return;
    if (action == QAbstractSlider::SliderMove) {
        // Tracking is off, so this is the thumb let go (or a wheel turn on the bar).
        if (!scrollBar_->isSliderDown()) scroll(ScrollCode::thumbPosition, scrollBar_->sliderPosition());
        return;
    }
    scroll(scrollCodeOf(action), scrollBar_->sliderPosition());
}

void DownloadStepsWindow::scroll(ScrollCode code, int thumbPosition) {
    const std::optional<int> move = stepsScrollMove(code, clientHeight_, scrollOffset_, thumbPosition);
    applyingMove_ = true;
    if (move) {
        scrollOffset_ += *move;
        scrollBar_->setSliderPosition(scrollOffset_);
        scrollBar_->setValue(scrollOffset_);
        content_->move(0, -scrollOffset_);
    } else {
        // Nothing happens: the thumb goes back where it was.
        scrollBar_->setSliderPosition(scrollBar_->value());
    }
    applyingMove_ = false;
}

}  // namespace korvane
