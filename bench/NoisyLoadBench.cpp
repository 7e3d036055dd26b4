// Whole iPP350 serial loads over a noisy line: the pad simulator paced as a
// 115200-baud cable, every byte in either direction changed, dropped or
// doubled at a given rate (the line noise of korvane-pad-sim --fault noise),
// with the sample packages (40 KiB application, 8 KiB configuration) from the
// reference load server in this process. For each rate and a fixed set of
// seeds: the share of loads that end "LOADED", the loader's retransmissions
// per megabyte the pad received, and the time against the same load on a
// clean line; and every "LOADED" load whose files on the pad differ from the
// packages. The table goes to standard error; the figures are also counters.

#include "bench/InProcessLoadServer.h"
#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "platform/InstallationConfig.h"
#include "platform/Tick.h"
#include "server/ChallengeCipher.h"
#include "server/SecurityInterface.h"
#include "tools/pad-sim/PadSimulator.h"
#include "tools/padpeer/LineNoise.h"
#include "tools/padpeer/PtyPeer.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/ModelSelection.h"
#include "workflows/Operator.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvane {
namespace {

constexpr uint32_t kBaud = 115200;
constexpr char kSecret[] = "K0RVANE7BENCHSECRET0123456789ABCD";
constexpr char kWaitScale[] = "1e-9";
constexpr double kRates[] = {1e-5, 1e-4, 3e-4, 1e-3};
constexpr uint64_t kSeeds[] = {11, 12, 13, 14, 15, 16, 17, 18};

using Clock = std::chrono::steady_clock;

class NoProgressWindow : public ProgressView {
public:
    void show() override {}
    void hide() override {}
    ProgressWindowHandle handle() const override { return {}; }
};

// Nobody at the machine: every prompt is cancelled.
class NobodyThere : public Operator {
public:
    void showMessage(const std::string&) override {}
    std::unique_ptr<ProgressView> openProgressWindow() override { return std::make_unique<NoProgressWindow>(); }
    std::optional<int> runComPortPrompt(SerialPort&) override { return std::nullopt; }
    bool runDownloadStepsWindow() override { return false; }
    std::optional<bool> runPciVersionPrompt() override { return std::nullopt; }
};

struct Folder {
    std::string path;
    Folder() {
        char pattern[] = "/tmp/korvane-noisy-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
        path = pattern;
        const std::string command = std::string("KORVANE_BUNDLE='") + KORVANE_BUNDLE_PATH + "' /bin/sh '" +
                                    KORVANE_SAMPLE_PACKAGES_SCRIPT + "' '" + path + "/packages'";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("make-sample-packages.sh failed");
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string read(const std::string& name) const {
        std::ifstream in(path + "/packages/" + name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

// Name on the pad, and the package file it must equal (the sample packages' packages.ini).
const std::pair<const char*, const char*> kPadFiles[] = {
    {"RBAIPP350.OGZ", "apps/iPP350_RBA.bin"},
    {"KVSIPP350SERIAL.TGZ", "configs/iPP350_KVS_SERIAL.bin"},
    {"Secbin.pgz", "files/Secbin_21.pgz"},
};

struct Run {
    bool loaded = false;
    std::string outcome;
    double seconds = 0;
    long frames = 0;
    long retransmissions = 0;  // frames the pad took again: bad ones, and good ones repeating the one before
    long long bytes = 0;
    long errors = 0;
    std::string differing;  // files of a "LOADED" load that are not what was sent
};

class Station {
public:
    Station() {
        ::setenv("KORVANE_WAIT_SCALE", kWaitScale, 1);
        installation_.primaryHost = installation_.secondaryHost = "127.0.0.1";
        installation_.port = server_.port();
        installation_.installationSerial = "0100-2200-33";
        installation_.challengeSecret = kSecret;
        controls_.comPortText = "1";
        controls_.connection = ConnectionType::serial;
        cacheStamp_ = tickCount();
        ::setenv(kDeviceFolderEnv, (folder_.path + "/devices").c_str(), 1);
    }

    // One press of the iPP350 button against a fresh pad; rate 0: a clean line.
    Run load(double rate, uint64_t seed) {
        std::shared_ptr<padpeer::LineNoise> noise;
        if (rate > 0) noise = std::make_shared<padpeer::LineNoise>(padpeer::LineNoiseSettings{rate, seed}, nullptr);
        padpeer::PtyPeer::addNoiseToNewLines(noise);
        padsim::PadSimOptions options;
        options.deviceDir = folder_.path + "/devices";
        options.model = "iPP350";
        options.appVersion = "2301";
        options.installMs = options.restartMs = options.rebootMs = 0;
        options.baud = kBaud;
        padsim::PadSimulator simulator(options, nullptr);
        std::string error;
        if (!simulator.start(error)) throw std::runtime_error(error);
        padpeer::PtyPeer::addNoiseToNewLines(nullptr);

        NobodyThere op;
        LoadStation station{op, installation_, controls_, cacheStamp_, lastLoadedVariant_, std::nullopt};
        const Clock::time_point start = Clock::now();
        pressModelButton(station, *findModelButtonByCaption("Ingenico iPP350"));
        Run run;
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        simulator.stop();
        run.outcome = station.reportedOutcome.value_or("none");
        run.loaded = run.outcome == "LOADED";
        run.frames = simulator.framesReceived();
        run.bytes = simulator.frameBytesReceived();
        long fresh = 0;
        const std::vector<std::string> messages = simulator.messages();
        for (size_t i = 0; i < messages.size(); ++i)
            if (i == 0 || messages[i] != messages[i - 1]) ++fresh;
        run.retransmissions = run.frames - fresh;
        run.errors = noise ? noise->errors() : 0;
        if (run.loaded)
            for (const auto& [onPad, sample] : kPadFiles)
                if (simulator.file(onPad) != folder_.read(sample)) run.differing += std::string(" ") + onPad;
        return run;
    }

private:
    Folder folder_;
    bench::InProcessLoadServer server_{folder_.path + "/packages", folder_.path + "/records.db", kSecret};
    InstallationConfig installation_;
    StationControls controls_;
    uint32_t cacheStamp_ = 0;
    int lastLoadedVariant_ = 0;
};

void noisyIpp350SerialLoads(benchmark::State& state) {
    if (!SecurityInterface::processWide().Initialise() || !ChallengeCipher::processWide().Initialise(kSecret)) {
        state.SkipWithError("the security services did not start");
        return;
    }
    for (auto _ : state) {
        Station station;
        // The first press fetches and caches the packages; every measured one then takes them from the cache.
        station.load(0, 0);
        const Run clean = station.load(0, 0);
        if (!clean.loaded) {
            state.SkipWithError(("the clean load ended " + clean.outcome).c_str());
            return;
        }
        std::fprintf(stderr, "clean line: %.2f s, %ld frames, %lld frame bytes\n", clean.seconds, clean.frames,
                     clean.bytes);
        if (!clean.differing.empty()) {
            state.SkipWithError(("the clean load left different files:" + clean.differing).c_str());
            return;
        }
        std::fprintf(stderr, "(%ld frames of the clean load repeat the one before; not counted below)\n",
                     clean.retransmissions);
        std::fprintf(stderr, "%8s %6s %8s %14s %10s %10s  %s\n", "rate", "loads", "LOADED", "retrans/MB", "time",
                     "errors", "outcomes (seed: outcome, time relative to clean)");
        for (const double rate : kRates) {
            int loaded = 0;
            long retransmissions = 0, errors = 0;
            long long bytes = 0;
            double loadedSeconds = 0;
            std::string outcomes;
            for (const uint64_t seed : kSeeds) {
                const Run run = station.load(rate, seed);
                loaded += run.loaded ? 1 : 0;
                retransmissions += std::max(0L, run.retransmissions - clean.retransmissions);
                bytes += run.bytes;
                errors += run.errors;
                if (run.loaded) loadedSeconds += run.seconds;
                char line[160];
                std::snprintf(line, sizeof(line), " %llu: %s %.2f;", static_cast<unsigned long long>(seed),
                              run.outcome.c_str(), run.seconds / clean.seconds);
                outcomes += line;
                if (!run.differing.empty()) {
                    outcomes += " [LOADED with differing" + run.differing + "]";
                    state.counters["loaded_but_differing"] += 1;
                }
            }
            const double share = static_cast<double>(loaded) / std::size(kSeeds);
            const double perMb = bytes > 0 ? retransmissions / (static_cast<double>(bytes) / 1e6) : 0;
            const double relative = loaded > 0 ? loadedSeconds / loaded / clean.seconds : 0;
            char label[32];
            std::snprintf(label, sizeof(label), "%g", rate);
            std::fprintf(stderr, "%8s %6zu %7.0f%% %14.1f %9.2fx %10ld %s\n", label, std::size(kSeeds),
                         share * 100, perMb, relative, errors, outcomes.c_str());
            state.counters[std::string("loaded_share@") + label] = share;
            state.counters[std::string("retrans_per_MB@") + label] = perMb;
            state.counters[std::string("time_vs_clean@") + label] = relative;
        }
        state.SetIterationTime(clean.seconds);
    }
}

}  // namespace
}  // namespace korvane

BENCHMARK(korvane::noisyIpp350SerialLoads)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
