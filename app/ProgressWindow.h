#pragma once

#include "job/ProgressWindowHandle.h"

#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;

namespace korvane {

// The window that stands over the main window during a load: a status line
// fed through the status mailbox, a bar that shows activity (not progress)
// and Cancel. It disables its owner while it exists. Constructing one clears
// `cancelRequested`, so each load starts without a Cancel.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Processing . . .";
    // The template's two-line caption; shown with a Qt line break.
    static constexpr const char* kCancelCaption = "C&ANCEL\r[ESC]";
    static constexpr const char* kCancelSentCaption = "Cancel Sent";
    static constexpr int kBarLowest = 1;
    static constexpr int kBarHighest = 50;
    static constexpr int kBarStep = 5;
    static constexpr int kTickMs = 2000;

    enum ControlId : int { kCancel = 2, kStatusLine = 1002, kProgressBar = 1013 };

    // Owned by `owner`, else by the application's main window; not shown yet.
    explicit ProgressWindow(QWidget* owner = nullptr);
    ~ProgressWindow() override;

    // For post-status; retired when this window goes.
    const ProgressWindowHandle& handle() const { return handle_; }

    // Runs the waiting messages, then returns whether Cancel was pressed since
    // the last call, and forgets it. On a worker thread nothing is pumped.
    bool pumpAndTakeCancel();

    QWidget* control(int id) const;
    bool ownerDisabled() const { return ownerDisabled_; }
    const QTimer& tickTimer() const { return timer_; }

    // The bar position after one tick: one step on, back to the start past the end.
    static int nextBarPosition(int position);

    // The event a posted status raises on the user-interface thread.
    static QEvent::Type statusEventType();

public slots:
    // The Cancel button and Escape. Does nothing while Cancel is disabled.
    void reject() override;
    // One tick of the bar.
    void advanceBar();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void copyStatusFromMailbox();
    // Every status text is shown whole: the window widens for it up to the
    // screen's width, and a longer text wraps onto more lines.
    void fitStatusLine();

    QPointer<QWidget> owner_;
    bool ownerDisabled_ = false;
    std::atomic<bool> cancelPressed_{false};
    QPushButton* cancel_;
    QProgressBar* bar_;
    QLabel* status_;
    QTimer timer_;
    ProgressWindowHandle handle_;
};

}  // namespace korvane
