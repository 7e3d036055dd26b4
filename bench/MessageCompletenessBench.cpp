// The completeness test on a block message of 1 MiB against 8 MiB. It reads
// only the headers, so one test costs the same for both; the receive runs it
// after every record, so a whole block's tests grow only with its record count.
#include "server/LoadServerResponse.h"

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

namespace {

std::string blockMessage(std::size_t bodySize) {
    std::string message = "BlockNo: 3\r\nContent-Length: " + std::to_string(bodySize) + "\r\n\r\n";
    message.append(bodySize, '\x5a');
    return message;
}

// One test on the complete message.
void BM_CompletenessOneTest(benchmark::State& state) {
    const std::string message = blockMessage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(korvane::isCompleteMessage(message));
    state.SetLabel(std::to_string(state.range(0) >> 20) + " MiB block");
}

// Every test one block's receive makes: one after each 16 KiB record, each on
// the part received so far.
void BM_CompletenessWholeBlock(benchmark::State& state) {
    const std::string message = blockMessage(static_cast<std::size_t>(state.range(0)));
    const std::string_view whole(message);
    constexpr std::size_t kRecord = 16384;
    for (auto _ : state) {
        for (std::size_t received = kRecord; received < whole.size() + kRecord; received += kRecord)
            benchmark::DoNotOptimize(korvane::isCompleteMessage(whole.substr(0, received)));
    }
    state.counters["records"] = static_cast<double>((message.size() + kRecord - 1) / kRecord);
    state.SetLabel(std::to_string(state.range(0) >> 20) + " MiB block");
}

}  // namespace

BENCHMARK(BM_CompletenessOneTest)->Arg(1 << 20)->Arg(8 << 20);
BENCHMARK(BM_CompletenessWholeBlock)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
