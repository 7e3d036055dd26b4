// FetchApplication of a 32 MiB package from the reference load server on
// loopback, with 64 KiB and 1 MiB blocks, against the protocol's floor: the
// block count times the 5 ms pause between blocks, plus the time the same
// bytes take through the same kind of TLS connection (the server's TLS
// settings, the loader's secure channel) without the protocol. The "ratio"
// counter is the fetch's mean time over that floor; the goal is 1.10 or less
// with 1 MiB blocks and 1.05 or less with 64 KiB blocks.
#include "bench/InProcessLoadServer.h"
#include "server/ChallengeCipher.h"
#include "server/LoadServerClient.h"
#include "server/Md5.h"
#include "server/SecureChannel.h"
#include "server/SecurityInterface.h"
#include "tools/load-server/ListeningSocket.h"
#include "tools/load-server/ServerTlsContext.h"
#include "tools/load-server/TlsConnection.h"
#include "job/LoadJob.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

namespace korvane {
namespace {

constexpr std::size_t kPackageBytes = 32u << 20;
constexpr double kBlockPauseMs = 5.0;
constexpr char kSecret[] = "K0RVANE7BENCHSECRET0123456789ABCD";
constexpr char kModel[] = "BENCH_RBA";

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class ServerOnlyClient : public LoadServerClient {
public:
    using LoadServerClient::LoadServerClient;
    int loadPackingList() override { return 0; }
};

// The package folder, the security services and the package bytes, made once.
struct Setting {
    std::string folder;
    std::string package;

    Setting() {
        char pattern[] = "/tmp/korvane-fetch-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
        folder = pattern;
        package.resize(kPackageBytes);
        uint32_t seed = 12345;
        for (char& c : package) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        }
        std::filesystem::create_directories(folder + "/packages/apps");
        std::ofstream(folder + "/packages/apps/bench.bin", std::ios::binary) << package;
        std::ofstream(folder + "/packages/packages.ini")
            << "[model " << kModel << "]\nfile = apps/bench.bin\nversion = 1\ninfo-file-name = BENCH.TGZ\n";
        if (!SecurityInterface::processWide().Initialise() || !ChallengeCipher::processWide().Initialise(kSecret))
            throw std::runtime_error("the security services did not start");
    }
    ~Setting() { std::filesystem::remove_all(folder); }

    static Setting& instance() {
        static Setting setting;
        return setting;
    }
};

// The same bytes through the same kind of connection, with nothing but TLS:
// the server writes them as fast as the socket takes them after the handshake;
// the secure channel opens and reads until it has them all. Milliseconds, the
// mean of five after one round that warms up.
double rawTransferMs() {
    static double mean = 0;
    if (mean > 0) return mean;
    constexpr int kRounds = 5;
    double total = 0;
    const std::string& bytes = Setting::instance().package;
    ServerTlsContext tls;
    std::string error;
    ListeningSocket listener;
    if (!tls.initialise({}, {}, error) || !listener.open("127.0.0.1", 0, error)) throw std::runtime_error(error);
    const std::string bound = listener.boundAddress();
    const auto port = static_cast<uint16_t>(std::stoi(bound.substr(bound.rfind(':') + 1)));
    std::atomic<bool> stopping{false};
    for (int round = -1; round < kRounds; ++round) {
        std::thread server([&] {
            int fd = -1;
            std::string peer, failure;
            if (listener.accept(-1, fd, peer) != ListeningSocket::Accept::connection) return;
            TlsConnection connection(fd, tls.get(), stopping);
            if (!connection.handshake(10000, failure)) return;
            constexpr std::size_t kPiece = 64u << 10;
            for (std::size_t at = 0; at < bytes.size(); at += kPiece)
                if (!connection.send(std::string_view(bytes).substr(at, kPiece), 10000)) return;
            std::string ignored;
            connection.readSome(ignored, 10000);  // until the client closes
        });
        SecureChannel channel;
        std::string received;
        received.reserve(bytes.size() + 65536);
        const Clock::time_point start = Clock::now();
        bool complete = channel.Open("127.0.0.1", port, 10000);
        while (complete && received.size() < bytes.size()) {
            std::size_t appended = 0;
            complete = channel.ReceiveAndDecrypt(appended, received, 10000) == SecureChannel::kDataAppended;
        }
        const double elapsed = millisecondsSince(start);
        channel.Disconnect();
        server.join();
        if (!complete || received != bytes) throw std::runtime_error("raw transfer failed: " + channel.LastErrorText());
        if (round >= 0) total += elapsed;
    }
    mean = total / kRounds;
    return mean;
}

// What one MD5 pass over the whole file costs, for the breakdown: the fetch
// feeds its digest block by block instead, while each block is still in cache.
double digestMs() {
    const std::string& bytes = Setting::instance().package;
    const Clock::time_point start = Clock::now();
    benchmark::DoNotOptimize(Md5::digest(bytes.data(), bytes.size()));
    return millisecondsSince(start);
}

void BM_RawTlsTransfer(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(rawTransferMs() / 1000.0);
    state.counters["MiB"] = static_cast<double>(kPackageBytes >> 20);
}

void BM_FetchApplication(benchmark::State& state) {
    const auto blockSize = static_cast<std::size_t>(state.range(0));
    const double rawMs = rawTransferMs();
    bench::InProcessLoadServer server(Setting::instance().folder + "/packages",
                                      Setting::instance().folder + "/records-" + std::to_string(blockSize) + ".db",
                                      kSecret, blockSize);
    InstallationConfig installation;
    installation.primaryHost = installation.secondaryHost = "127.0.0.1";
    installation.port = server.port();
    installation.installationSerial = "0100-2200-33";
    installation.challengeSecret = kSecret;

    // One fetch first, untimed: the reference server reads and digests the
    // package on its first request, which is the server's cost, not the loader's.
    {
        ByteArray target;
        LoadJob job;
        job.downloadTarget = &target;
        job.deviceInfo.padModel = kModel;
        ServerOnlyClient client(installation, &job);
        if (!client.FetchApplication(false)) {
            state.SkipWithError(("warm-up fetch failed: " + client.LastErrorText()).c_str());
            return;
        }
    }

    double totalMs = 0, bestMs = 0;
    int fetches = 0;
    for (auto _ : state) {
        ByteArray target;
        target.reserve(kPackageBytes);
        LoadJob job;
        job.downloadTarget = &target;
        job.deviceInfo.padModel = kModel;
        ServerOnlyClient client(installation, &job);
        const Clock::time_point start = Clock::now();
        const bool fetched = client.FetchApplication(false);
        const double elapsed = millisecondsSince(start);
        if (!fetched || target.size() != kPackageBytes) {
            state.SkipWithError(("fetch failed: " + client.LastErrorText()).c_str());
            return;
        }
        state.SetIterationTime(elapsed / 1000.0);
        totalMs += elapsed;
        bestMs = fetches == 0 ? elapsed : std::min(bestMs, elapsed);
        ++fetches;
    }
    const auto blocks = static_cast<double>((kPackageBytes + blockSize - 1) / blockSize);
    const double floorMs = blocks * kBlockPauseMs + rawMs;
    state.counters["blocks"] = blocks;
    state.counters["raw_tls_ms"] = rawMs;
    state.counters["floor_ms"] = floorMs;
    state.counters["fetch_ms"] = totalMs / fetches;
    state.counters["fetch_best_ms"] = bestMs;
    state.counters["digest_ms"] = digestMs();
    state.counters["ratio"] = totalMs / fetches / floorMs;
    state.SetLabel(blockSize >= (1u << 20) ? std::to_string(blockSize >> 20) + " MiB blocks"
                                           : std::to_string(blockSize >> 10) + " KiB blocks");
}

}  // namespace
}  // namespace korvane

BENCHMARK(korvane::BM_RawTlsTransfer)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(korvane::BM_FetchApplication)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
