#pragma once

#include "job/ProgressWindowHandle.h"

#include <atomic>

namespace korvane {

// The core's side of the progress window that stands over every load: the
// desktop's window or the console's status lines. Construction clears
// `cancelRequested`; destruction takes the window away (and gives the main
// window back). Owned and used by the user-interface thread; only
// pumpAndTakeCancel() and handle() may be used from a worker.
class ProgressView {
public:
    ProgressView();
    virtual ~ProgressView();
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;

    // Shows the window and draws it at once.
    virtual void show() = 0;
    virtual void hide() = 0;

    // For the load record's `progressWindow`: null when no window could be created.
    virtual ProgressWindowHandle handle() const = 0;

    // Runs the messages waiting for the calling thread, then tells whether
    // Cancel was pressed since the last call, and forgets it.
    virtual bool pumpAndTakeCancel();

protected:
    // Cancel was pressed: remembered for pumpAndTakeCancel() and raised as
    // `cancelRequested` for the loops of the load.
    void noteCancel();

private:
    std::atomic<bool> cancelPressed_{false};
};

}  // namespace korvane
