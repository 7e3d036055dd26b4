#pragma once

namespace korvane {

struct LoadStation;

// The two Vx805 buttons.
enum class Vx805Button {
    loadForEthernet,  // "Verifone Vx805 - Load for Ethernet": "S95", download mode only on COM 1
    loadNewXpi,       // "Verifone Vx805 Qentrall - Load new XPI": tagged "S95", download mode for the connection
};

// A Vx805 button: identifies the pad at 9600 baud, puts it into download
// mode (by the pad's command, or by the operator following the download-steps
// window), registers the load and runs the Vx805 worker; shows the outcome
// whatever it is. Runs on the user-interface thread until the load ended.
void loadVx805(LoadStation& station, Vx805Button button);

// The P400 button ("RQ's"): identifies the pad at 115200 baud, tells it the
// upgrade is coming ("Z8"), puts it into download mode, registers the load
// and runs the P400 worker with the package file of the working directory.
void loadP400(LoadStation& station);

}  // namespace korvane
