#pragma once

#include "workflows/ProgressView.h"

#include <memory>
#include <optional>
#include <string>

namespace korvane {

class SerialPort;

// Everything the core asks of the person at the machine. The desktop
// program answers with its windows, `korvane-load` with the console, tests
// with scripts. The calls may come from the user-interface thread or, for
// the COM port prompt, from a load's worker thread; an implementation runs
// them where its windows live and returns only once the operator answered.
class Operator {
public:
    virtual ~Operator() = default;

    // A message with only an OK button; returns when it was acknowledged.
    virtual void showMessage(const std::string& text) = 0;

    // A new progress window over the main window, not yet shown. Its
    // construction clears `cancelRequested`. When no window could be created
    // the view's handle is null and the load goes on without one.
    virtual std::unique_ptr<ProgressView> openProgressWindow() = 0;

    // The pad did not answer after its restart: the operator confirms the cable
    // and may give a new port number. On OK `port` is open on the returned
    // number (115200 baud, 8N1); on Cancel nothing is returned.
    virtual std::optional<int> runComPortPrompt(SerialPort& port) = 0;

    // How to put a Vx805 into download mode by hand: true for "DOWNLOAD",
    // false for "CANCEL".
    virtual bool runDownloadStepsWindow() = 0;

    // Whether the pad is a PCI V4 device: true for "V4", false for "V3",
    // nothing when the operator cancelled.
    virtual std::optional<bool> runPciVersionPrompt() = 0;

    // Keeps the operator interface alive during a wait on its thread; does
    // nothing on any other thread.
    virtual void pumpMessages();

    // The busy pointer over the windows, on or off; calls nest. Nothing at a console.
    virtual void showBusy(bool busy);
};

// The busy pointer for as long as it lives.
class BusyIndicator {
public:
    explicit BusyIndicator(Operator& op) : op_(op) { op_.showBusy(true); }
    ~BusyIndicator() { op_.showBusy(false); }
    BusyIndicator(const BusyIndicator&) = delete;
    BusyIndicator& operator=(const BusyIndicator&) = delete;

private:
    Operator& op_;
};

}  // namespace korvane
