// The two packing-list transfers of a PCI2 load (a 4 MiB FPE bundle, then a
// 1 MiB configuration bundle, each unpacked and loaded as the pad asks) into
// the Equinox simulator pacing its line as a 115200-baud cable, with the
// procedure waits scaled to nothing and the pad back at once after each
// restart. The figure is the time taken over the wire time of the frames the
// pad received (10 bits a byte, every transmission counted): what the loader
// adds to the cable's own limit (goal: 1.03 or less).

#include "pad/Bundle.h"
#include "pad/EquinoxPad.h"
#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "tools/pad-sim/EquinoxSimulator.h"
#include "job/LoadJob.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr uint32_t kBaud = 115200;
// Procedure waits to nothing; read before the timing table is first used.
const bool waitsScaled = [] { return ::setenv("KORVANE_WAIT_SCALE", "0.000001", 1) == 0; }();

// A bundle of `files` files sharing `bytes`, each of random bytes, with its packing list.
korvane::ByteArray bundleOf(size_t bytes, int files, const std::string& prefix, std::mt19937& random) {
    korvane::ByteArray bundle, list;
    std::vector<std::pair<std::string, korvane::ByteArray>> entries;
    for (int i = 0; i < files; ++i) {
        const std::string name = prefix + std::to_string(i) + ".BIN";
        korvane::ByteArray data(bytes / static_cast<size_t>(files));
        for (auto& byte : data) byte = static_cast<uint8_t>(random());
        list.insert(list.end(), name.begin(), name.end());
        list.push_back('\n');
        entries.emplace_back(name, std::move(data));
    }
    korvane::appendBundleEntry(bundle, "PACKINGLIST", list);
    for (const auto& [name, data] : entries) korvane::appendBundleEntry(bundle, name, data);
    return bundle;
}

void loadBundlesIntoPacedSimulator(benchmark::State& state) {
    const std::string folder = (std::filesystem::temp_directory_path() /
                                ("korvane-bench-equinox-" + std::to_string(::getpid())))
                                   .string();
    korvane::padsim::PadSimOptions options;
    options.deviceDir = folder;
    options.baud = kBaud;
    options.model = korvane::padsim::kEquinoxPci2Model;
    options.typeLetter = "H";
    options.restartMs = 0;
    korvane::padsim::EquinoxSimulator simulator(options, nullptr);
    std::string error;
    if (!simulator.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    ::setenv(korvane::kDeviceFolderEnv, folder.c_str(), 1);
    korvane::SerialPort port;
    if (!port.open(1, 115200, 'N', '8', '1', true)) {
        state.SkipWithError(port.lastError().c_str());
        return;
    }
    korvane::LoadJob job;
    job.serialPort = &port;
    job.comPort = 1;
    korvane::EquinoxPad pad(korvane::InstallationConfig{}, &job);

    std::mt19937 random(1);
    const korvane::ByteArray fpe = bundleOf(4u << 20, 8, "FPE", random);
    const korvane::ByteArray config = bundleOf(1u << 20, 4, "FORM", random);

    double ratioSum = 0;
    for (auto _ : state) {
        const long long before = simulator.frameBytesReceived();
        const auto start = std::chrono::steady_clock::now();
        for (const korvane::ByteArray* bundle : {&fpe, &config}) {
            job.configImage = bundle;
            if (!pad.unpackBundle() || pad.loadPackingList() != 2) {
                state.SkipWithError(("load failed: " + pad.LastErrorText() + job.loadReport.resultText).c_str());
                break;
            }
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double wire = static_cast<double>(simulator.frameBytesReceived() - before) * 10.0 / kBaud;
        state.SetIterationTime(elapsed);
        ratioSum += elapsed / wire;
        state.counters["wire_s"] = wire;
    }
    state.counters["ratio"] = ratioSum / static_cast<double>(state.iterations());
    port.close();
    simulator.stop();
    std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(loadBundlesIntoPacedSimulator)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
