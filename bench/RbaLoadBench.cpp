// loadFile of a 2 MiB image into the pad simulator with the simulator pacing
// its line as a 115200-baud cable, on a serial and on a USB connection. The
// figure is the time taken over the wire time of the bytes actually framed
// (10 bits a byte, every transmission counted): what the loader adds to the
// cable's own limit (goal: 1.03 or less on USB, 1.05 or less on serial, where
// each block is followed by a 3 ms pause). KORVANE_BENCH_LOAD_BYTES changes
// the size for a quick look.

#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "tools/pad-sim/PadSimulator.h"
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

size_t imageSize() {
    const char* text = std::getenv("KORVANE_BENCH_LOAD_BYTES");
    return text != nullptr && std::atol(text) > 0 ? static_cast<size_t>(std::atol(text)) : 2u * 1024 * 1024;
}

void loadIntoPacedSimulator(benchmark::State& state) {
    const bool usb = state.range(0) != 0;
    const std::string folder = (std::filesystem::temp_directory_path() /
                                ("korvane-bench-load-" + std::to_string(::getpid()) + (usb ? "-usb" : "-serial")))
                                   .string();
    korvane::padsim::PadSimOptions options;
    options.deviceDir = folder;
    options.baud = kBaud;
    korvane::padsim::PadSimulator simulator(options, nullptr);
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
    job.usbConnection = usb;
    korvane::RbaPad pad(korvane::InstallationConfig{}, &job);

    std::mt19937 random(1);
    korvane::ByteArray image(imageSize());
    for (auto& byte : image) byte = static_cast<uint8_t>(random());

    double ratioSum = 0;
    for (auto _ : state) {
        const long long before = simulator.frameBytesReceived();
        const auto start = std::chrono::steady_clock::now();
        if (!pad.loadFile(image, "BENCH.OGZ", error)) {
            state.SkipWithError(error.c_str());
            break;
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

BENCHMARK(loadIntoPacedSimulator)
    ->ArgName("usb")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
