#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/tools/LoadServerHarness.h"
#include "tests/tools/PadSimHarness.h"

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane::test {

// The simulated pad of one test.
struct PadSetup {
    std::string model = "iPP350";
    std::string appVersion = "2301";
    std::vector<std::string> params;  // "G.I=VALUE", held before the load
    std::vector<std::string> faults;  // korvane-pad-sim --fault values
    std::vector<std::string> extra;   // any other korvane-pad-sim options, e.g. {"--pin-ksn", "none"}
};

// One finished korvane-load run.
struct LoadRun {
    int status = -1;  // -1: still running when the time was up
    std::string out;
    std::string err;
    std::string lastLine() const;
    bool says(const std::string& text) const { return out.find(text) != std::string::npos; }
};

// One operation the load server served, in the order served.
struct ServedOperation {
    std::string request;  // PP_LOAD, PP_GET_FILE, PP_APP, PP_LOAD_STATUS ...
    std::string subject;  // model, file name, or "load N: OUTCOME"
    std::string status;
    std::string error;
    std::string violations;  // how the loader broke the wire format; empty when it did not
};

// A whole load on one machine: the reference load server with the sample
// packages, a simulated pad on COM 1, a matching installation configuration,
// and korvane-load run as a real process against them.
class LoadRig {
public:
    explicit LoadRig(const PadSetup& pad = {}, const std::vector<std::string>& serverArgs = {});
    // Every operation the server recorded must be free of violations, and an
    // RBA pad simulator must have seen none (its summary says "violations: 0"):
    // the loader sends both wire formats exactly, whatever the server or pad did.
    ~LoadRig();
    LoadRig(const LoadRig&) = delete;
    LoadRig& operator=(const LoadRig&) = delete;

    // korvane-load with `args`, the procedure waits shortened, until it ends.
    // It runs in `loadDirectory` (empty: the test's own) with `loadEnv` on
    // top of the rig's environment (KORVANE_WAIT_SCALE may be set there too).
    LoadRun korvaneLoad(const std::vector<std::string>& args, int timeoutMs = 300000);
    // `load --model CAPTION --port 1 --connection CONNECTION` and `extra`.
    LoadRun load(const std::string& caption, const std::string& connection = "serial",
                 const std::vector<std::string>& extra = {});

    // Operations are recorded as each connection ends; stopping the server
    // first means none is still being written. The server stays stopped.
    std::vector<ServedOperation> operations();
    // "REQUEST SUBJECT" per operation, for readable comparisons.
    std::vector<std::string> requests();
    Table loads();

    // What the pad holds: files as received under their pad names, and its parameters.
    std::vector<std::string> padFileNames() const;
    bool padHas(const std::string& name) const;
    std::string padFile(const std::string& name) const;
    std::map<std::string, std::string> padParameters() const;
    // Stopping the pad first means its log is complete: the whole log, and the
    // message number ("07", "62", "97" ...) of each of its lines, in order.
    std::string padLog();
    std::vector<std::string> padMessages();

    // The sample package folder: a file's bytes, and a model's info-file-name.
    std::string sample(const std::string& path) const;
    std::string infoFileName(const std::string& model) const;
    // The path below the package folder of a model's file.
    std::string sampleFile(const std::string& model) const;

    // The installation configuration that points at this rig's server.
    std::string configPath() const { return folder_.file("loader.conf"); }
    // The pad unplugged: its process killed, its pseudo-terminal gone. Any thread.
    void killPad();
    std::string packagesDir() const { return server_.folder().file("packages"); }
    // The device folder in which the pad is com1.
    std::string devicesDir() const { return pad_->devices.path(); }

    std::string loadDirectory;
    std::map<std::string, std::optional<std::string>> loadEnv;

    static constexpr char kAppVersion[] = "2310";  // of every sample application

private:
    void stopServer();
    std::string packageItem(const std::string& model, const std::string& key) const;
    void stopPad();

    ServerProcess server_;
    TempDir folder_;
    std::unique_ptr<PadSimProcess> pad_;
    bool serverStopped_ = false;
    std::atomic<bool> padStopped_{false};
    std::atomic<bool> padKilled_{false};
    bool noisyLine_ = false;
    bool rbaPad_ = true;  // the Equinox and Verifone tests judge their pads themselves  // the simulator's own noise damages frames: its violations are no loader's
};

}  // namespace korvane::test
