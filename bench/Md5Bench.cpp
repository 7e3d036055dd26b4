// MD5 over one 64 MiB buffer: the system's own, OpenSSL's, and both in one
// run with their throughput ratio (goal: 0.9 or better).
#include "server/Md5.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kBufferSize = 64u << 20;

const std::vector<uint8_t>& buffer() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> bytes(kBufferSize);
        std::mt19937_64 generator(42);
        for (auto& byte : bytes) byte = static_cast<uint8_t>(generator());
        return bytes;
    }();
    return data;
}

korvane::Md5::Digest openSsl(const std::vector<uint8_t>& data) {
    korvane::Md5::Digest digest{};
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr);
    return digest;
}

void BM_Md5Own(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(korvane::Md5::digest(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_Md5OpenSsl(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(openSsl(data));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// Alternates the two on the same buffer so that both see the same machine state.
void BM_Md5RatioToOpenSsl(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const auto& data = buffer();
    if (korvane::Md5::digest(data.data(), data.size()) != openSsl(data)) state.SkipWithError("the digests differ");
    double own = 0;
    double reference = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(korvane::Md5::digest(data.data(), data.size()));
        own += std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        benchmark::DoNotOptimize(openSsl(data));
        reference += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double mebibytes = static_cast<double>(state.iterations()) * data.size() / (1 << 20);
    state.counters["own_MiB_per_s"] = mebibytes / own;
    state.counters["openssl_MiB_per_s"] = mebibytes / reference;
    state.counters["ratio"] = reference / own;  // above 1: faster than OpenSSL
}

}  // namespace

BENCHMARK(BM_Md5Own)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5OpenSsl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5RatioToOpenSsl)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_MAIN();
