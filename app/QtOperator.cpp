#include "app/QtOperator.h"

#include "app/ComPortPrompt.h"
#include "app/DownloadStepsWindow.h"
#include "app/MessageBox.h"
#include "app/PciVersionPrompt.h"
#include "app/ProgressWindow.h"
#include "app/WindowPlacement.h"
#include "platform/MessagePump.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <type_traits>

namespace korvane {
namespace {

bool onGuiThread() { return QCoreApplication::instance() != nullptr && QThread::currentThread() == qApp->thread(); }

// Runs `work` on the user-interface thread and returns its result there;
// from another thread the caller waits until it has run.
template <typename Work>
auto runOnGuiThread(Work&& work) -> decltype(work()) {
    using Result = decltype(work());
    if (onGuiThread()) return work();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(qApp, [&work] { work(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(qApp, [&work, &result] { result = work(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// The core's view of one ProgressWindow; the window itself lives and dies
// on the user-interface thread.
class QtProgressView : public ProgressView {
public:
    explicit QtProgressView(QWidget* owner) {
        window_ = runOnGuiThread([owner] { return std::make_unique<ProgressWindow>(owner); });
        handle_ = window_->handle();
    }
    ~QtProgressView() override {
        runOnGuiThread([this] { window_.reset(); });
    }

    void show() override {
        runOnGuiThread([this] {
            window_->show();
            window_->raise();
            window_->repaint();
        });
    }
    void hide() override {
        runOnGuiThread([this] { window_->hide(); });
    }
    ProgressWindowHandle handle() const override { return handle_; }
    bool pumpAndTakeCancel() override { return window_->pumpAndTakeCancel(); }

private:
    std::unique_ptr<ProgressWindow> window_;
    ProgressWindowHandle handle_;
};

QWidget* applicationMainWindow(QWidget* given) {
    if (given != nullptr) return given;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "mainWindow") return top;
    return nullptr;
}

}  // namespace

QtOperator::QtOperator(QWidget* mainWindow) : mainWindow_(applicationMainWindow(mainWindow)) {
    setMessagePumpHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

QtOperator::~QtOperator() {
    if (onGuiThread()) setMessagePumpHook({});
}

void QtOperator::showMessage(const std::string& text) {
    runOnGuiThread([this, &text] {
        // A disabled main window would disable its message box as well.
        QWidget* parent = mainWindow_ != nullptr && mainWindow_->isEnabled() ? mainWindow_.data() : nullptr;
        korvane::showMessage(parent, text);
    });
}

std::unique_ptr<ProgressView> QtOperator::openProgressWindow() {
    return std::make_unique<QtProgressView>(mainWindow_.data());
}

std::optional<int> QtOperator::runComPortPrompt(SerialPort& port) {
    return runOnGuiThread([this, &port]() -> std::optional<int> {
        ComPortPrompt prompt(port);
        placeOver(&prompt, mainWindow_);
        if (prompt.exec() != QDialog::Accepted) return std::nullopt;
        return prompt.chosenPort;
    });
}

bool QtOperator::runDownloadStepsWindow() {
    return runOnGuiThread([this] {
        DownloadStepsWindow steps;
        placeOver(&steps, mainWindow_);
        return steps.exec() == QDialog::Accepted;
    });
}

std::optional<bool> QtOperator::runPciVersionPrompt() {
    return runOnGuiThread([this]() -> std::optional<bool> {
        PciVersionPrompt prompt;
        placeOver(&prompt, mainWindow_);
        if (prompt.exec() != QDialog::Accepted) return std::nullopt;
        return prompt.v4Chosen;
    });
}

void QtOperator::showBusy(bool busy) {
    runOnGuiThread([busy] {
        if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
        else QApplication::restoreOverrideCursor();
    });
}

}  // namespace korvane
