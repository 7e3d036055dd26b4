// The reference load server under concurrent fetches: 1, 10 and 100 of the
// loader's server clients each fetch a 1 MiB package (64 KiB blocks) at the
// same moment. The figures are the aggregate throughput of a round ("MiB_s",
// all the bytes over the round's wall time), its ratio to one client
// ("ratio_to_one"; the 5 ms pause after each block leaves one client mostly
// waiting, so several should go well above 1), and the server's memory: its
// resident size when idle and its peak resident size so far ("server_peak_MiB";
// the 100-client round runs last, so its figure is the peak at 100). The
// server runs as its own process, so its memory is its own.
#include "server/ChallengeCipher.h"
#include "server/LoadServerClient.h"
#include "server/SecurityInterface.h"
#include "job/LoadJob.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace korvane {
namespace {

constexpr std::size_t kPackageBytes = 1u << 20;
constexpr char kBlockSize[] = "65536";
constexpr char kSecret[] = "K0RVANE7BENCHSECRET0123456789ABCD";
constexpr char kModel[] = "BENCH_RBA";

using Clock = std::chrono::steady_clock;

class ServerOnlyClient : public LoadServerClient {
public:
    using LoadServerClient::LoadServerClient;
    int loadPackingList() override { return 0; }
};

// korvane-load-server as a child process on a free loopback port.
class ServerProcess {
public:
    ServerProcess() {
        char pattern[] = "/tmp/korvane-concurrent-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
        folder_ = pattern;
        std::string package(kPackageBytes, '\0');
        uint32_t seed = 777;
        for (char& c : package) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        }
        std::filesystem::create_directories(folder_ + "/packages/apps");
        std::ofstream(folder_ + "/packages/apps/bench.bin", std::ios::binary) << package;
        std::ofstream(folder_ + "/packages/packages.ini")
            << "[model " << kModel << "]\nfile = apps/bench.bin\nversion = 1\ninfo-file-name = BENCH.TGZ\n";

        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string packages = folder_ + "/packages", database = folder_ + "/records.db";
        std::vector<std::string> args = {KORVANE_LOAD_SERVER_PROGRAM, "--port", "0", "--packages", packages,
                                         "--database", database, "--secret", kSecret, "--block-size", kBlockSize};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
        std::string line;
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        ::close(out[0]);
        const auto colon = line.rfind(':');
        if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos)
            throw std::runtime_error("the load server did not start: " + line);
        port_ = static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
    }
    ~ServerProcess() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        std::filesystem::remove_all(folder_);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    uint16_t port() const { return port_; }

    // A field of /proc/PID/status in MiB ("VmRSS", "VmHWM").
    double memoryMiB(const std::string& field) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
        return 0;
    }

    static ServerProcess& instance() {
        static ServerProcess server;
        return server;
    }

private:
    std::string folder_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// Holds every client until all are ready, so a round starts at once.
class StartLine {
public:
    explicit StartLine(std::size_t count) : waiting_(count) {}
    void arriveAndWait() {
        std::unique_lock<std::mutex> guard(lock_);
        if (--waiting_ == 0) ready_.notify_all();
        else ready_.wait(guard, [this] { return waiting_ == 0; });
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::size_t waiting_;
};

double oneClientMiBs = 0;

void BM_ConcurrentFetch(benchmark::State& state) {
    const auto clients = static_cast<std::size_t>(state.range(0));
    ServerProcess& server = ServerProcess::instance();
    if (!SecurityInterface::processWide().Initialise() || !ChallengeCipher::processWide().Initialise(kSecret)) {
        state.SkipWithError("the security services did not start");
        return;
    }
    InstallationConfig installation;
    installation.primaryHost = installation.secondaryHost = "127.0.0.1";
    installation.port = server.port();
    installation.installationSerial = "0100-2200-33";
    installation.challengeSecret = kSecret;
    const double idleMiB = server.memoryMiB("VmRSS");

    double totalSeconds = 0;
    std::size_t rounds = 0, failures = 0;
    for (auto _ : state) {
        StartLine start(clients + 1);
        std::vector<std::thread> threads;
        std::mutex failureLock;
        for (std::size_t i = 0; i < clients; ++i) {
            threads.emplace_back([&] {
                ByteArray target;
                LoadJob job;
                job.downloadTarget = &target;
                job.deviceInfo.padModel = kModel;
                ServerOnlyClient client(installation, &job);
                start.arriveAndWait();
                if (!client.FetchApplication(false) || target.size() != kPackageBytes) {
                    std::lock_guard<std::mutex> guard(failureLock);
                    ++failures;
                }
            });
        }
        start.arriveAndWait();
        const Clock::time_point begin = Clock::now();
        for (std::thread& thread : threads) thread.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        state.SetIterationTime(seconds);
        totalSeconds += seconds;
        ++rounds;
    }
    if (failures != 0) {
        state.SkipWithError((std::to_string(failures) + " fetches failed").c_str());
        return;
    }
    const double mibs = static_cast<double>(clients * rounds) * (kPackageBytes / 1048576.0) / totalSeconds;
    if (clients == 1) oneClientMiBs = mibs;
    state.counters["MiB_s"] = mibs;
    if (oneClientMiBs > 0) state.counters["ratio_to_one"] = mibs / oneClientMiBs;
    state.counters["server_idle_MiB"] = idleMiB;
    state.counters["server_peak_MiB"] = server.memoryMiB("VmHWM");
    state.SetLabel(std::to_string(clients) + " at once");
}

}  // namespace
}  // namespace korvane

BENCHMARK(korvane::BM_ConcurrentFetch)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
