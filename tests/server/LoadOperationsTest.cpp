// The load operations against the reference load server, run as a real
// process on loopback, with its fault switches standing in for a faulty server.
#include "server/LoadServerClient.h"
#include "server/OutcomeCodes.h"

#include "tests/tools/LoadServerHarness.h"
#include "job/CancelRequested.h"
#include "job/LoadJob.h"
#include "job/StatusMailbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace korvane {
namespace {

using test::kSecret;
using test::ServerProcess;
using test::Table;

class ServerOnlyClient : public LoadServerClient {
public:
    using LoadServerClient::LoadServerClient;
    int loadPackingList() override { return 0; }
};

InstallationConfig installationFor(uint16_t port) {
    InstallationConfig config;
    config.primaryHost = "127.0.0.1";
    config.secondaryHost = "127.0.0.1";
    config.port = port;
    config.installationSerial = "0100-2200-33";
    config.challengeSecret = kSecret;
    return config;
}

// One load's record with its download buffer, and every progress text posted to it.
struct Load {
    explicit Load(uint16_t port) : client(installationFor(port), &job) {
        job.downloadTarget = &file;
        job.progressWindow = ProgressWindowHandle::open([this] {
            posted.push_back(StatusMailbox::processWide().text());
            if (onPost) onPost(posted.back());
        });
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

    std::string fileText() const { return std::string(file.begin(), file.end()); }

    LoadJob job;
    ByteArray file;
    std::vector<std::string> posted;
    std::function<void(const std::string&)> onPost;
    ServerOnlyClient client;
};

enum class Operation { requestLoad, fetchApplication, fetchFile };

bool run(Load& load, Operation operation) {
    switch (operation) {
    case Operation::requestLoad: return load.client.RequestLoad();
    case Operation::fetchApplication:
        load.job.deviceInfo.padModel = ServerProcess::kModel;
        return load.client.FetchApplication(false);
    case Operation::fetchFile: return load.client.FetchFile(ServerProcess::kFileName);
    }
    return false;
}

// Small blocks, so the test files take two (package) and three (named file) blocks.
constexpr std::size_t kBlockSize = 4096;

std::vector<std::string> serverArgs(const std::vector<std::string>& faults, std::size_t blockSize = kBlockSize) {
    std::vector<std::string> args = {"--trace", "--block-size", std::to_string(blockSize)};
    for (const std::string& fault : faults) {
        args.push_back("--fault");
        args.push_back(fault);
    }
    return args;
}

// The status messages the server received, in order, from its trace: "last/next status text".
std::vector<std::string> statusesReceived(ServerProcess& server) {
    static const std::regex status(
        R"(<- Content-Length: 0\\r\\nLast-Good-Block: (-?\d+)\\r\\nNext-Block-Expected: (-?\d+)\\r\\n)"
        R"(Status: (\w+)\\r\\nStatus-Text: (.*?)\\r\\n\\r\\n)");
    const std::string trace = server.process().standardError();
    std::vector<std::string> seen;
    for (auto it = std::sregex_iterator(trace.begin(), trace.end(), status); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        seen.push_back(m[1].str() + "/" + m[2].str() + " " + m[3].str() + " " + m[4].str());
    }
    return seen;
}

// The request body the server received, FS shown as "[FS]".
std::string requestReceived(ServerProcess& server) {
    static const std::regex request(R"(<- Content-Length: \d+\\r\\n\\r\\n(CC=[^\n]*))");
    const std::string trace = server.process().standardError();
    std::smatch m;
    return std::regex_search(trace, m, request) ? m[1].str() : std::string("(no request)");
}

// Every violation of the wire format the server recorded, one line per operation that had any.
std::string violationsOf(const Table& operations) {
    std::string lines;
    for (std::size_t row = 0; row < operations.rows.size(); ++row)
        if (!operations.at(row, "violations").empty())
            lines += operations.at(row, "request") + ": " + operations.at(row, "violations") + "\n";
    return lines;
}

const std::string kContinue = " Success OK_TO_CONTINUE";
const std::string kClosedWell = "-1/-1 Success LOAD SUCCESSFUL";

class LoadOperations : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(SecurityInterface::processWide().Initialise());
        ASSERT_TRUE(ChallengeCipher::processWide().Initialise(kSecret));
    }
    void SetUp() override { cancelRequested = false; }
    void TearDown() override { cancelRequested = false; }
};

TEST_F(LoadOperations, RequestLoadRegistersTheLoadAndReportLoadStatusRecordsItsOutcome) {
    ServerProcess server(serverArgs({}));
    Load load(server.port());
    DeviceInfo& device = load.job.deviceInfo;
    device.padModel = "iPP350";
    device.appVersion = "RBA2301";
    device.previousAppVersion = "RBA2290";
    device.configVersion = "CFG17";
    device.oemId = "OEM9";
    ASSERT_TRUE(load.client.RequestLoad()) << load.client.LastErrorText();
    const std::string id = load.job.loadReport.loadIdentifier;
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(load.posted, (std::vector<std::string>{"Contacting Korvane load server",
                                                     "Connecting to Korvane load server."}));

    Table loads = server.show("--show-loads");
    const int row = loads.find("load_id", id);
    ASSERT_GE(row, 0) << "load " << id << " not recorded";
    EXPECT_EQ(loads.at(row, "installation_serial"), "0100-2200-33");
    EXPECT_EQ(loads.at(row, "model"), "iPP350");
    EXPECT_EQ(loads.at(row, "app_version"), "RBA2301");
    EXPECT_EQ(loads.at(row, "previous_app_version"), "RBA2290");
    EXPECT_EQ(loads.at(row, "config_version"), "CFG17");
    EXPECT_EQ(loads.at(row, "oem_id"), "OEM9");

    load.job.loadReport.outcome = std::string(kOutcomeFailLoadRba) + kOutcomeSuffixSerial;
    load.job.loadReport.reportedAppVersion = "RBA2400";
    load.job.loadReport.reportedConfigVersion = "CFG18";
    ASSERT_TRUE(load.client.ReportLoadStatus()) << load.client.LastErrorText();
    loads = server.show("--show-loads");
    EXPECT_EQ(loads.at(row, "outcome"), "FAIL-LOAD RBA-SERIAL");
    EXPECT_EQ(loads.at(row, "reported_app_version"), "RBA2400");
    EXPECT_EQ(loads.at(row, "reported_config_version"), "CFG18");
    EXPECT_EQ(loads.at(row, "reports"), "1");

    // An identifier the server never gave out is refused, and the refusal goes back as the closing status.
    load.job.loadReport.loadIdentifier = "999999";
    EXPECT_FALSE(load.client.ReportLoadStatus());
    EXPECT_EQ(load.client.LastErrorText(), "Unknown Load Identifier 999999");

    const Table operations = server.waitForOperations(3);
    EXPECT_EQ(violationsOf(operations), "");
    EXPECT_EQ(statusesReceived(server),
              (std::vector<std::string>{kClosedWell, kClosedWell, "-1/-1 Error Unknown Load Identifier 999999"}));
    EXPECT_EQ(operations.at(0, "request"), "PP_LOAD");
    EXPECT_EQ(operations.at(1, "request"), "PP_LOAD_STATUS");
}

TEST_F(LoadOperations, FetchesFillTheJobBlockByBlock) {
    ServerProcess server(serverArgs({}));
    {
        Load load(server.port());
        ASSERT_TRUE(run(load, Operation::fetchApplication)) << load.client.LastErrorText();
        EXPECT_EQ(load.fileText(), ServerProcess::packageBytes());
        EXPECT_EQ(load.job.fetchedVersion, ServerProcess::kModelVersion);
        EXPECT_EQ(load.job.fetchedInfoFileName, ServerProcess::kInfoFileName);
        EXPECT_EQ(load.job.fetchedSize, "5000");
        EXPECT_EQ(load.posted, (std::vector<std::string>{"Contacting Korvane load server",
                                                         "Connecting to Korvane load server.", "Challenge Received.",
                                                         "Downloading block 1", "Downloading block 2 of 2"}));
        server.waitForOperations(1);
        EXPECT_NE(requestReceived(server).find("[FS]REQ=PP_APP[FS]PP_KVRN_SN=0100-2200-33[FS]PP_MODEL=iPP350_RBA[FS]"),
                  std::string::npos)
            << requestReceived(server);
    }
    {
        Load load(server.port());
        load.job.fetchedInfoFileName = "untouched";
        ASSERT_TRUE(run(load, Operation::fetchFile)) << load.client.LastErrorText();
        EXPECT_EQ(load.fileText(), ServerProcess::fileBytes());
        EXPECT_EQ(load.job.fetchedVersion, ServerProcess::kFileVersion);
        EXPECT_EQ(load.job.fetchedInfoFileName, "untouched");
        EXPECT_EQ(load.posted,
                  (std::vector<std::string>{"Contacting Korvane load server", "Waiting Initial Challenge.",
                                            "Challenge Received.", "Downloading block 1", "Downloading block 2 of 3",
                                            "Downloading block 3 of 3"}));
    }
    EXPECT_EQ(violationsOf(server.waitForOperations(2)), "");
    // Each block but the last is acknowledged; the last is followed by the closing status.
    EXPECT_EQ(statusesReceived(server),
              (std::vector<std::string>{"0/1" + kContinue, "1/2" + kContinue, kClosedWell, "0/1" + kContinue,
                                        "1/2" + kContinue, "2/3" + kContinue, kClosedWell}));
}

TEST_F(LoadOperations, ARenegotiationTheServerAsksForInADownloadIsCarriedOutAndTheDownloadCompletes) {
    for (const char* fault : {"renegotiate-after-block=1", "renegotiate-after-block=2"}) {
        SCOPED_TRACE(fault);
        ServerProcess server(serverArgs({fault}));
        Load load(server.port());
        ASSERT_TRUE(run(load, Operation::fetchFile)) << load.client.LastErrorText();
        EXPECT_EQ(load.fileText(), ServerProcess::fileBytes());
        EXPECT_EQ(violationsOf(server.waitForOperations(1)), "");
        EXPECT_EQ(statusesReceived(server).back(), kClosedWell);
    }
}

TEST_F(LoadOperations, OneBlockOfExactlyTheFileLengthCompletesWithoutABlockAcknowledgement) {
    ServerProcess server(serverArgs({}, ServerProcess::fileBytes().size()));
    Load load(server.port());
    ASSERT_TRUE(run(load, Operation::fetchFile)) << load.client.LastErrorText();
    EXPECT_EQ(load.fileText(), ServerProcess::fileBytes());
    const Table operations = server.waitForOperations(1);
    EXPECT_EQ(operations.at(0, "blocks_sent"), "1");
    EXPECT_EQ(violationsOf(operations), "");
    EXPECT_EQ(statusesReceived(server), (std::vector<std::string>{"0/1" + kContinue, kClosedWell}));
}

TEST_F(LoadOperations, ItemsOnlyTheOtherFetchNeedsAreNotRequired) {
    {   // a named file needs no version, and takes the empty one
        ServerProcess server(serverArgs({"no-version"}));
        Load load(server.port());
        load.job.fetchedVersion = "old";
        ASSERT_TRUE(run(load, Operation::fetchFile)) << load.client.LastErrorText();
        EXPECT_EQ(load.job.fetchedVersion, "");
    }
    {   // CompressedLen alone gives the length
        ServerProcess server(serverArgs({"compressed-len-only"}));
        Load load(server.port());
        ASSERT_TRUE(run(load, Operation::fetchApplication)) << load.client.LastErrorText();
        EXPECT_EQ(load.job.fetchedSize, "5000");
        EXPECT_EQ(load.fileText(), ServerProcess::packageBytes());
    }
}

TEST_F(LoadOperations, MutualChallenge) {
    const std::string fixed = "ABCDEF0123456789ABCDEF0123456789";
    const std::string lowerFixed = "abcdef0123456789abcdef0123456789";
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* clientSecret;
        bool accepted;
        std::string requestPart;  // what the request body must contain
    } cases[] = {
        // An odd challenge cannot be answered: "CR=" goes out empty and the request is still sent.
        {"odd challenge", {"--challenge", fixed, "--fault", "odd-challenge", "--trace"}, kSecret, true,
         "[FS]CR=[FS]REQ=PP_LOAD[FS]"},
        // Lower-case digits decode as zeros; the server expects exactly that answer.
        {"lower-case challenge", {"--challenge", fixed, "--fault", "lowercase-challenge", "--trace"}, kSecret, true,
         "[FS]CR=" + test::answerFor(kSecret, lowerFixed) + "[FS]REQ=PP_LOAD[FS]"},
        {"lower-case answer from the server", serverArgs({"lowercase-cr"}), kSecret, false, "REQ=PP_LOAD"},
        {"wrong answer from the server", serverArgs({"wrong-cr"}), kSecret, false, "REQ=PP_LOAD"},
        {"wrong secret here", serverArgs({}), "K0RVANE7TESTSECRET0123456789ABCDX", false, "REQ=PP_LOAD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerProcess server(c.args);
        Load load(server.port());
        ChallengeCipher cipher;
        ASSERT_TRUE(cipher.Initialise(c.clientSecret));
        load.client.setChallengeCipher(cipher);
        const bool done = load.client.RequestLoad();
        const Table operations = server.waitForOperations(1);
        EXPECT_NE(requestReceived(server).find(c.requestPart), std::string::npos) << requestReceived(server);
        // The loader's own bytes are right in every case; only another secret makes its answer wrong.
        if (c.clientSecret == std::string(kSecret)) EXPECT_EQ(violationsOf(operations), "");
        else EXPECT_NE(violationsOf(operations).find("does not answer the challenge"), std::string::npos);
        if (c.accepted) {
            EXPECT_TRUE(done) << load.client.LastErrorText();
            EXPECT_FALSE(load.job.loadReport.loadIdentifier.empty());
            EXPECT_EQ(statusesReceived(server), std::vector<std::string>{kClosedWell});
        } else {
            EXPECT_FALSE(done);
            EXPECT_EQ(load.client.LastErrorText(), "Challenge Verification Failed.");
            EXPECT_TRUE(load.job.loadReport.loadIdentifier.empty());
            EXPECT_EQ(statusesReceived(server),
                      std::vector<std::string>{"-1/-1 Error Challenge Verification Failed."});
        }
    }
}

TEST_F(LoadOperations, RefusalsAndMissingItemsFailAndAreSentBackAsTheClosingStatus) {
    const struct {
        const char* fault;
        Operation operation;
        std::string text;
        bool afterWholeFile;       // the failure comes only once every block has arrived
        const char* fetchedSize;   // for the application fetch: kept even though it failed
    } cases[] = {
        {"status-error=Not today", Operation::requestLoad, "Not today", false, ""},
        {"status-no-error=Failed", Operation::fetchApplication, "No Error Msg - Status=Failed", false, ""},
        {"status-no-error", Operation::fetchFile, "No Error Msg - Status=Error", false, ""},
        {"no-load-id", Operation::requestLoad, "No Load Identifier Supplied", false, ""},
        {"no-md5", Operation::fetchFile, "No MD5 Sum Supplied", false, ""},
        {"no-length", Operation::fetchApplication, "No Compressed App Length Supplied", false, ""},
        {"zero-length", Operation::fetchFile, "No Compressed App Length Supplied", false, ""},
        {"no-version", Operation::fetchApplication, "No File Version Supplied", false, "5000"},
        {"zlib", Operation::fetchFile, "Application Failed to Inflate -- Try with No Compression.", true, ""},
        {"wrong-md5", Operation::fetchFile, "MD5 Failed after Completed Transfer.", true, ""},
        {"lowercase-md5", Operation::fetchApplication, "MD5 Failed after Completed Transfer.", true, "5000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ServerProcess server(serverArgs({c.fault}));
        Load load(server.port());
        EXPECT_FALSE(run(load, c.operation));
        EXPECT_EQ(load.client.LastErrorText(), c.text);
        const Table operations = server.waitForOperations(1);
        EXPECT_EQ(violationsOf(operations), "");
        const std::vector<std::string> statuses = statusesReceived(server);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), "-1/-1 Error " + c.text);
        if (c.operation == Operation::fetchApplication) {
            EXPECT_EQ(load.job.fetchedSize, c.fetchedSize);
        }
        if (c.operation == Operation::requestLoad) continue;
        const bool application = c.operation == Operation::fetchApplication;
        if (c.afterWholeFile) {
            EXPECT_EQ(load.fileText(), application ? ServerProcess::packageBytes() : ServerProcess::fileBytes());
            EXPECT_EQ(operations.at(0, "blocks_sent"), application ? "2" : "3");
        } else {
            EXPECT_TRUE(load.file.empty());
            EXPECT_EQ(operations.at(0, "blocks_sent"), "0");
        }
        EXPECT_TRUE(load.job.fetchedVersion.empty());
    }
}

TEST_F(LoadOperations, BlocksOutOfSequenceAreAskedForAgainFiveTimesAtMost) {
    {   // block 3 in place of 2: one error, block 2 asked for again with the same counters
        ServerProcess server(serverArgs({"out-of-sequence=2"}));
        Load load(server.port());
        ASSERT_TRUE(run(load, Operation::fetchFile)) << load.client.LastErrorText();
        EXPECT_EQ(load.fileText(), ServerProcess::fileBytes());
        const Table operations = server.waitForOperations(1);
        EXPECT_EQ(operations.at(0, "blocks_resent"), "1");
        EXPECT_EQ(violationsOf(operations), "");
        EXPECT_EQ(statusesReceived(server), (std::vector<std::string>{"0/1" + kContinue, "1/2" + kContinue,
                                                                      "1/2" + kContinue, "2/3" + kContinue,
                                                                      kClosedWell}));
    }
    {   // the fifth wrong block is still answered; what comes next ends the download, right block or not
        ServerProcess server(serverArgs({"out-of-sequence=2:5"}));
        Load load(server.port());
        EXPECT_FALSE(run(load, Operation::fetchFile));
        EXPECT_EQ(load.client.LastErrorText(), "Transmission Errors resulted in too many retries.");
        EXPECT_EQ(load.fileText(), ServerProcess::fileBytes().substr(0, kBlockSize));
        EXPECT_EQ(violationsOf(server.waitForOperations(1)), "");
        std::vector<std::string> expected = {"0/1" + kContinue};
        expected.insert(expected.end(), 6, "1/2" + kContinue);
        expected.push_back("-1/-1 Error Transmission Errors resulted in too many retries.");
        EXPECT_EQ(statusesReceived(server), expected);
    }
}

TEST_F(LoadOperations, CancelEndsTheDownloadWhenTheNextBlockArrivesWithoutStoringIt) {
    ServerProcess server(serverArgs({}));
    Load load(server.port());
    load.onPost = [](const std::string& text) {
        if (text == "Downloading block 2 of 3") cancelRequested = true;
    };
    EXPECT_FALSE(run(load, Operation::fetchFile));
    EXPECT_EQ(load.client.LastErrorText(), "User canceled file download.");
    EXPECT_EQ(load.job.loadReport.outcome, kOutcomeFailDownloadFiles);
    EXPECT_EQ(load.fileText(), ServerProcess::fileBytes().substr(0, kBlockSize));
    ASSERT_FALSE(load.posted.empty());
    EXPECT_EQ(load.posted.back(), "Canceling...");
    const Table operations = server.waitForOperations(1);
    EXPECT_EQ(operations.at(0, "blocks_sent"), "2");
    EXPECT_EQ(violationsOf(operations), "");
    EXPECT_EQ(statusesReceived(server), (std::vector<std::string>{"0/1" + kContinue, "1/2" + kContinue,
                                                                  "-1/-1 Error User canceled file download."}));
}

TEST_F(LoadOperations, ADownloadRunningFarPastItsAnnouncedLengthEndsWithAnErrorStatus) {
    // One byte short of the file is announced, so the length is never met;
    // the server answers up to 70 MiB of blocks past the end.
    ServerProcess server(serverArgs({"blocks-past-end=70"}, 1024 * 1024));
    Load load(server.port());
    EXPECT_FALSE(run(load, Operation::fetchFile));
    const std::string overrun = "Download ran more than 64 MiB past its announced length.";
    EXPECT_EQ(load.client.LastErrorText(), overrun);
    const Table operations = server.waitForOperations(1);
    EXPECT_LE(std::stol(operations.at(0, "blocks_sent")), 66) << "it stops as soon as it is past the limit";
    ASSERT_FALSE(statusesReceived(server).empty());
    EXPECT_EQ(statusesReceived(server).back(), "-1/-1 Error " + overrun);
}

TEST_F(LoadOperations, ABlockThatNeverComesEmptiesTheTargetAndLeavesTheChannelsText) {
    ServerProcess server(serverArgs({"drop-after-block=1"}));
    Load load(server.port());
    EXPECT_FALSE(run(load, Operation::fetchFile));
    EXPECT_EQ(load.client.LastErrorText(), "Timeout Waiting for Verifiable Packet from server  (ReceiveAndDecrypt)");
    EXPECT_TRUE(load.file.empty());
    EXPECT_TRUE(load.job.loadReport.outcome.empty());
}

TEST_F(LoadOperations, AClosingStatusThatCannotBeSentDoesNotHideTheReason) {
    // The server's reason is longer than one record can carry, so sending it back fails.
    const std::string reason(20000, 'R');
    ServerProcess server(serverArgs({"status-error=" + reason}));
    Load load(server.port());
    EXPECT_FALSE(run(load, Operation::requestLoad));
    EXPECT_EQ(load.client.LastErrorText(), reason);
    const Table operations = server.waitForOperations(1);
    EXPECT_EQ(operations.at(0, "closing_status"), "none");
}

}  // namespace
}  // namespace korvane
