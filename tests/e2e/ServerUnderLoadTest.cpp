// The reference load server with a hundred loaders at once on loopback, each
// one the loader's own server client: register, fetch, report.
#include "server/ChallengeCipher.h"
#include "server/LoadServerClient.h"
#include "server/SecurityInterface.h"
#include "tests/tools/LoadServerHarness.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace korvane::test {
namespace {

class ServerOnlyClient : public LoadServerClient {
public:
    using LoadServerClient::LoadServerClient;
    int loadPackingList() override { return 0; }
};

// Holds every thread until all have arrived, so the clients start together.
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

struct ClientResult {
    std::string failure;  // empty when all three operations succeeded
    std::string loadId;
    std::string appVersion;
    std::string outcome;
    bool fileIntact = false;
};

ClientResult runOneLoad(uint16_t port, int index, StartLine& start) {
    InstallationConfig installation;
    installation.primaryHost = installation.secondaryHost = "127.0.0.1";
    installation.port = port;
    installation.installationSerial = "0100-2200-33";
    installation.challengeSecret = kSecret;
    ByteArray file;
    LoadJob job;
    job.downloadTarget = &file;
    job.deviceInfo.padModel = ServerProcess::kModel;
    job.deviceInfo.appVersion = "APP" + std::to_string(index);
    job.deviceInfo.previousAppVersion = "OLD" + std::to_string(index);
    job.deviceInfo.configVersion = "CFG1";
    job.deviceInfo.oemId = "OEM9";
    ServerOnlyClient client(installation, &job);
    ClientResult result;
    result.appVersion = job.deviceInfo.appVersion;
    start.arriveAndWait();
    if (!client.RequestLoad()) {
        result.failure = "RequestLoad: " + client.LastErrorText();
        return result;
    }
    result.loadId = job.loadReport.loadIdentifier;
    if (!client.FetchApplication(false)) {
        result.failure = "FetchApplication: " + client.LastErrorText();
        return result;
    }
    result.fileIntact = std::string(file.begin(), file.end()) == ServerProcess::packageBytes();
    job.loadReport.outcome = index % 2 == 0 ? "LOADED" : "LOAD NOT REQUIRED";
    job.loadReport.reportedAppVersion = job.fetchedVersion;
    job.loadReport.reportedConfigVersion = "CFG2";
    result.outcome = job.loadReport.outcome;
    if (!client.ReportLoadStatus()) result.failure = "ReportLoadStatus: " + client.LastErrorText();
    return result;
}

TEST(ServerUnderLoad, AHundredLoadersAtOnceAreAllServedAndRecordedWithoutAViolation) {
    ASSERT_TRUE(SecurityInterface::processWide().Initialise());
    ASSERT_TRUE(ChallengeCipher::processWide().Initialise(kSecret));
    constexpr int kClients = 100;
    // Five blocks per fetch, so the downloads interleave.
    ServerProcess server({"--block-size", "1024"});
    std::vector<ClientResult> results(kClients);
    StartLine start(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] { results[static_cast<std::size_t>(i)] = runOneLoad(server.port(), i, start); });
    for (std::thread& client : clients) client.join();

    std::set<std::string> loadIds;
    int failures = 0;
    for (int i = 0; i < kClients; ++i) {
        const ClientResult& result = results[static_cast<std::size_t>(i)];
        EXPECT_EQ(result.failure, "") << "client " << i;
        EXPECT_TRUE(result.fileIntact) << "client " << i;
        if (!result.failure.empty()) ++failures;
        loadIds.insert(result.loadId);
    }
    EXPECT_EQ(failures, 0) << "the server's notes:\n" << server.process().standardError();
    EXPECT_EQ(loadIds.size(), static_cast<std::size_t>(kClients));

    // Every load with its own outcome.
    const Table loads = server.show("--show-loads");
    ASSERT_EQ(loads.rows.size(), static_cast<std::size_t>(kClients));
    for (const ClientResult& result : results) {
        const int row = loads.find("load_id", result.loadId);
        ASSERT_GE(row, 0) << result.loadId;
        EXPECT_EQ(loads.at(row, "app_version"), result.appVersion);
        EXPECT_EQ(loads.at(row, "outcome"), result.outcome);
        EXPECT_EQ(loads.at(row, "reported_app_version"), ServerProcess::kModelVersion);
        EXPECT_EQ(loads.at(row, "reports"), "1");
    }

    // Three operations each, every one closed well and none with a violation.
    const Table operations = server.waitForOperations(3 * kClients);
    ASSERT_EQ(operations.rows.size(), static_cast<std::size_t>(3 * kClients));
    for (std::size_t row = 0; row < operations.rows.size(); ++row) {
        EXPECT_EQ(operations.at(row, "violations"), "") << operations.at(row, "request");
        EXPECT_EQ(operations.at(row, "closing_text"), "LOAD SUCCESSFUL") << operations.at(row, "request");
    }

    // Still serving.
    ClientResult after;
    StartLine alone(1);
    after = runOneLoad(server.port(), kClients, alone);
    EXPECT_EQ(after.failure, "");
    EXPECT_EQ(server.stop(), 0) << server.process().standardError();
}

}  // namespace
}  // namespace korvane::test
