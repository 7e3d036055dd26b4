// The link polls the port every millisecond while it waits for a pad; a
// silent pad must leave the core idle. This measures the process CPU time of
// one 10-second reply wait on a pseudo-terminal where nothing arrives.

#include "pad/RbaLink.h"
#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "tools/padpeer/PtyPeer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void silentReplyWait(benchmark::State& state) {
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("korvane-bench-" + std::to_string(::getpid()))).string();
    korvane::padpeer::PtyPeer pad;
    pad.linkAs(folder, 1);
    ::setenv(korvane::kDeviceFolderEnv, folder.c_str(), 1);
    korvane::SerialPort port;
    if (!port.open(1, 115200, 'N', '8', '1', true)) {
        state.SkipWithError(port.lastError().c_str());
        return;
    }
    korvane::RbaLink link(port);
    const auto waitMs = static_cast<uint32_t>(state.range(0));
    double cpuTotal = 0;
    double wallTotal = 0;
    for (auto _ : state) {
        std::string reply;
        const double cpuStart = processCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        const int result = link.receiveFrame(reply, waitMs);
        wallTotal += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpuTotal += processCpuSeconds() - cpuStart;
        if (result != korvane::kLinkReplyTimeout) state.SkipWithError("the silent pad answered");
    }
    state.counters["cpu_ms"] = cpuTotal * 1000.0;
    state.counters["cpu_percent_of_core"] = wallTotal > 0 ? 100.0 * cpuTotal / wallTotal : 0;
    port.close();
    std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(silentReplyWait)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
