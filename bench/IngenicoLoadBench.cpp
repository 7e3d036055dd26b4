// A whole iPP350 serial load, as pressing its model button does it, of a
// 2 MiB application and a 256 KiB configuration (the sample packages from
// make-sample-packages.sh), from the reference load server in this process
// into the pad simulator, which paces its line as a 115200-baud cable and
// installs, restarts and reboots at once. The figure ("ratio") is the load's
// time over the wire time of the framed bytes the pad received (10 bits a
// byte): what the whole procedure adds to the cable's own limit (goal: 1.10
// or less). The 3 ms pause after each block, the pad's replies, the server's
// fetches and the procedure waits (scaled to nothing) all count against it;
// the timeline on standard error shows, file by file, where the time went.

#include "bench/InProcessLoadServer.h"
#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "platform/InstallationConfig.h"
#include "platform/Tick.h"
#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "tools/pad-sim/PadSimulator.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/ModelSelection.h"
#include "workflows/Operator.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace korvane {
namespace {

constexpr uint32_t kBaud = 115200;
constexpr char kSecret[] = "K0RVANE7BENCHSECRET0123456789ABCD";
constexpr char kAppBytes[] = "2097152";
constexpr char kConfigBytes[] = "262144";
// Every procedure wait rounds down to nothing at this scale; the pad needs none.
constexpr char kWaitScale[] = "1e-9";

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

double wireSeconds(long long bytes) { return static_cast<double>(bytes) * 10.0 / kBaud; }

// No window: the load goes on without status lines.
class NoProgressWindow : public ProgressView {
public:
    void show() override {}
    void hide() override {}
    ProgressWindowHandle handle() const override { return {}; }
};

// Nobody at the machine: messages are kept, every prompt is cancelled.
class ScriptedOperator : public Operator {
public:
    void showMessage(const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(text);
    }
    std::unique_ptr<ProgressView> openProgressWindow() override { return std::make_unique<NoProgressWindow>(); }
    std::optional<int> runComPortPrompt(SerialPort&) override { return std::nullopt; }
    bool runDownloadStepsWindow() override { return false; }
    std::optional<bool> runPciVersionPrompt() override { return std::nullopt; }

    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> messages_;
};

// The sample packages and the record store in a private folder.
struct Folder {
    std::string path;
    Folder() {
        char pattern[] = "/tmp/korvane-ingenico-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
        path = pattern;
        const std::string command = std::string("KORVANE_BUNDLE='") + KORVANE_BUNDLE_PATH + "' /bin/sh '" + KORVANE_SAMPLE_PACKAGES_SCRIPT + "' '" + path +
                                    "/packages' --app-size " + kAppBytes + " --config-size " + kConfigBytes;
        if (std::system(command.c_str()) != 0) throw std::runtime_error("make-sample-packages.sh failed");
    }
    ~Folder() { std::filesystem::remove_all(path); }
};

// What the pad said, when, and how many framed bytes it had taken by then.
struct PadEvent {
    Clock::time_point at;
    long long bytes;
    std::string line;
};

void wholeIpp350SerialLoad(benchmark::State& state) {
    // Read once per process, on the load's first wait.
    ::setenv("KORVANE_WAIT_SCALE", kWaitScale, 1);
    Folder folder;
    bench::InProcessLoadServer server(folder.path + "/packages", folder.path + "/records.db", kSecret);
    InstallationConfig installation;
    installation.primaryHost = installation.secondaryHost = "127.0.0.1";
    installation.port = server.port();
    installation.installationSerial = "0100-2200-33";
    installation.challengeSecret = kSecret;
    if (!SecurityInterface::processWide().Initialise() || !ChallengeCipher::processWide().Initialise(kSecret)) {
        state.SkipWithError("the security services did not start");
        return;
    }

    std::mutex eventsLock;
    std::vector<PadEvent> events;
    padsim::PadSimulator* simulatorSeen = nullptr;
    padsim::PadSimOptions options;
    options.deviceDir = folder.path + "/devices";
    options.model = "iPP350";
    options.appVersion = "2301";
    options.installMs = options.restartMs = options.rebootMs = 0;
    options.baud = kBaud;
    padsim::PadSimulator simulator(options, [&](const std::string& line) {
        const long long bytes = simulatorSeen != nullptr ? simulatorSeen->frameBytesReceived() : 0;
        std::lock_guard<std::mutex> guard(eventsLock);
        events.push_back({Clock::now(), bytes, line});
    });
    simulatorSeen = &simulator;
    std::string error;
    if (!simulator.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    ::setenv(kDeviceFolderEnv, options.deviceDir.c_str(), 1);

    const ModelButton* button = findModelButtonByCaption("Ingenico iPP350");
    ScriptedOperator op;
    StationControls controls;
    controls.comPortText = "1";
    controls.connection = ConnectionType::serial;
    uint32_t cacheStamp = tickCount();
    int lastLoadedVariant = 0;
    Clock::time_point start, end;
    long long bytes = 0;
    // One load only: afterwards the pad runs the package's version and the caches hold it.
    for (auto _ : state) {
        LoadStation station{op, installation, controls, cacheStamp, lastLoadedVariant, std::nullopt};
        const long long before = simulator.frameBytesReceived();
        start = Clock::now();
        pressModelButton(station, *button);
        end = Clock::now();
        bytes = simulator.frameBytesReceived() - before;
        state.SetIterationTime(secondsBetween(start, end));
        if (station.reportedOutcome != std::optional<std::string>("LOADED")) {
            std::string said;
            for (const std::string& message : op.messages()) said += " [" + message + "]";
            state.SkipWithError(("the load did not end LOADED:" + said).c_str());
        }
    }
    simulator.stop();

    const double elapsed = secondsBetween(start, end);
    const double wire = wireSeconds(bytes);
    state.counters["load_s"] = elapsed;
    state.counters["wire_s"] = wire;
    state.counters["frame_bytes"] = static_cast<double>(bytes);
    state.counters["ratio"] = elapsed / wire;

    // Between one stored file and the next: time taken against wire time of the bytes framed meanwhile.
    std::fprintf(stderr, "%9s %9s %9s  %s\n", "at_s", "taken_s", "wire_s", "pad");
    Clock::time_point previousAt = start;
    long long previousBytes = 0;
    for (const PadEvent& event : events) {
        if (event.line.rfind("62. ", 0) != 0 && event.line.find("reboot") == std::string::npos) continue;
        std::fprintf(stderr, "%9.3f %9.3f %9.3f  %s\n", secondsBetween(start, event.at),
                     secondsBetween(previousAt, event.at), wireSeconds(event.bytes - previousBytes),
                     event.line.substr(0, 90).c_str());
        previousAt = event.at;
        previousBytes = event.bytes;
    }
    std::fprintf(stderr, "%9.3f %9.3f %9.3f  (end of the press)\n", elapsed, secondsBetween(previousAt, end),
                 wireSeconds(bytes - previousBytes));
}

}  // namespace
}  // namespace korvane

BENCHMARK(korvane::wholeIpp350SerialLoad)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
