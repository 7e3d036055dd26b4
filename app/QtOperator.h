#pragma once

#include "workflows/Operator.h"

#include <QPointer>

class QWidget;

namespace korvane {

// The desktop's answers to the core: message boxes, the progress window and
// the three prompts as Qt windows. A call from a worker thread is carried
// over to the user-interface thread and the worker waits there until it
// returns; that thread is pumping while it waits for the worker, so the
// call runs at once. Construct it on the user-interface thread: it makes
// the core's waits there pump Qt's events.
class QtOperator : public Operator {
public:
    // `mainWindow` owns the progress windows (disabled while they stand) and
    // is where the prompts appear; null: the application's main window.
    explicit QtOperator(QWidget* mainWindow = nullptr);
    ~QtOperator() override;
    QtOperator(const QtOperator&) = delete;
    QtOperator& operator=(const QtOperator&) = delete;

    void showMessage(const std::string& text) override;
    std::unique_ptr<ProgressView> openProgressWindow() override;
    std::optional<int> runComPortPrompt(SerialPort& port) override;
    bool runDownloadStepsWindow() override;
    std::optional<bool> runPciVersionPrompt() override;
    void showBusy(bool busy) override;

private:
    QPointer<QWidget> mainWindow_;
};

}  // namespace korvane
