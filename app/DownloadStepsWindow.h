#pragma once

#include "app/PromptTexts.h"
#include "app/StepsScroll.h"

#include <QDialog>
#include <QRect>

class QScrollBar;

namespace korvane {

// Tells the operator how to put a Vx805 into download mode by hand: ten
// pictures of the pad's screens with their steps, in a content 847 pixels
// high that scrolls by the rules of StepsScroll.h. "DOWNLOAD" ends it with
// OK, "CANCEL" or Escape with Cancel.
class DownloadStepsWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = prompt_texts::kDownloadStepsTitle;
    static constexpr int kTemplateWidthDlu = 473;
    static constexpr int kTemplateHeightDlu = 498;
    static constexpr int kStepCount = 10;

    enum ControlId : int { kCancel = 2, kDownload = 1016 };

    // The texts beside the ten pictures; step 9 has none.
    static const char* const kStepTexts[kStepCount];

    explicit DownloadStepsWindow(QWidget* parent = nullptr);

    // The template's size in pixels for this window's font.
    QSize templateSize() const;

    int scrollOffset() const { return scrollOffset_; }
    int clientHeight() const { return clientHeight_; }
    QScrollBar* scrollBar() const { return scrollBar_; }
    QWidget* content() const { return content_; }
    QWidget* control(int id) const;

    // One request of the scroll bar, by the window's rules.
    void scroll(ScrollCode code, int thumbPosition = 0);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeClientHeight(int height);
    void onScrollAction(int action);

    QWidget* viewport_;
    QWidget* content_;
    QScrollBar* scrollBar_;
    QRect windowRect_;
    int scrollOffset_ = 0;
    int clientHeight_ = 0;
    bool opened_ = false;
    bool applyingMove_ = false;
};

}  // namespace korvane
