#include "server/LoadServerClient.h"

#include "server/HexText.h"
#include "server/Md5.h"
#include "tests/server/TlsTestServer.h"
#include "job/LoadJob.h"
#include "job/StatusMailbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>

namespace korvane {
namespace {

using namespace std::string_literals;
using test::TlsServerSide;
using test::TlsTestServer;

// Wire text with "~" standing for the FS byte (a hex escape would swallow the letters after it).
std::string wire(std::string text) {
    for (char& c : text)
        if (c == '~') c = '\x1c';
    return text;
}

constexpr char kClientChallenge[] = "0123456789ABCDEF0123456789ABCDEF";

class PadClient : public LoadServerClient {
public:
    using LoadServerClient::LoadServerClient;
    int loadPackingList() override { return 0; }
};

InstallationConfig installation(const std::string& primary, const std::string& secondary, uint16_t port) {
    InstallationConfig config;
    config.primaryHost = primary;
    config.secondaryHost = secondary;
    config.port = port;
    config.installationSerial = "0100-2200-33";
    return config;
}

class LoadServerClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(SecurityInterface::processWide().Initialise()); }

    // A client connected to a server that runs `script` after its handshake.
    void connect(PadClient& client, const TlsTestServer& server) {
        client.setInstallation(installation("127.0.0.1", "127.0.0.1", server.port()));
        ASSERT_TRUE(client.ConnectToLoadServer()) << client.LastErrorText();
    }
};

TEST_F(LoadServerClientTest, EachRequestKindIsSentByteExact) {
    LoadJob job;
    job.deviceInfo.padModel = "IPP350";
    job.deviceInfo.appVersion = "RBA2301";
    job.deviceInfo.previousAppVersion = "RBA2290";
    job.deviceInfo.configVersion = "CFG17";
    job.deviceInfo.oemId = "OEM9";
    job.loadReport.loadIdentifier = "778899";
    job.loadReport.outcome = "FAIL-LOAD RBA-SERIAL";
    job.loadReport.reportedAppVersion = "RBA2400";
    job.loadReport.reportedConfigVersion = "CFG18";
    const struct {
        const char* kind;
        std::function<void(PadClient&)> build;
        std::string expected;
    } cases[] = {
        {"application, empty challenge answer",
         [](PadClient& c) { c.BuildFetchRequest(kClientChallenge, "", false); },
         wire("Content-Length: 91\r\n\r\nCC=0123456789ABCDEF0123456789ABCDEF~CR=~REQ=PP_APP~"
              "PP_KVRN_SN=0100-2200-33~PP_MODEL=IPP350~")},
        {"configuration", [](PadClient& c) { c.BuildFetchRequest(kClientChallenge, "5A5A", true); },
         wire("Content-Length: 98\r\n\r\nCC=0123456789ABCDEF0123456789ABCDEF~CR=5A5A~REQ=PP_CONFIG~"
              "PP_KVRN_SN=0100-2200-33~PP_MODEL=IPP350~")},
        {"file", [](PadClient& c) { c.BuildFileRequest(kClientChallenge, "5A5A", "SECURITY.PGZ"); },
         wire("Content-Length: 85\r\n\r\nCC=0123456789ABCDEF0123456789ABCDEF~CR=5A5A~REQ=PP_GET_FILE~"
              "PP_FILENAME=SECURITY.PGZ~")},
        {"load", [](PadClient& c) { c.BuildLoadRequest(kClientChallenge, "5A5A"); },
         wire("Content-Length: 158\r\n\r\nCC=0123456789ABCDEF0123456789ABCDEF~CR=5A5A~REQ=PP_LOAD~"
              "PP_APP_VER=RBA2301|RBA2290~PP_CONFIG_VER=CFG17~PP_KVRN_SN=0100-2200-33~PP_MODEL=IPP350~"
              "PP_OEM_ID=OEM9~")},
        {"load status", [](PadClient& c) { c.BuildLoadStatusRequest(kClientChallenge, "5A5A"); },
         wire("Content-Length: 188\r\n\r\nCC=0123456789ABCDEF0123456789ABCDEF~CR=5A5A~REQ=PP_LOAD_STATUS~"
              "PP_KVRN_SN=0100-2200-33~PP_KVRN_DEV_ID=778899~PP_OUTCOME=FAIL-LOAD RBA-SERIAL~"
              "PP_APP_VER=RBA2400|RBA2290~PP_CONFIG_VER=CFG18~")},
    };
    for (const auto& entry : cases) {
        TlsTestServer server([&entry](TlsServerSide& side) {
            ASSERT_TRUE(side.handshake());
            EXPECT_EQ(side.receiveMessage().value_or("<nothing>"), entry.expected) << entry.kind;
            side.sendRecord(wire("Content-Length: 15\r\n\r\nStatus=Success~"));
            side.awaitPeerClose();
        });
        PadClient client(installation("", "", 0), &job);
        connect(client, server);
        entry.build(client);
        EXPECT_EQ(client.outgoingMessage(), entry.expected) << entry.kind << ": built, not sent";
        LoadServerResponse response;
        EXPECT_TRUE(client.Exchange(response)) << client.LastErrorText();
        EXPECT_EQ(response.status, "Success");
        client.Disconnect();
    }
}

TEST_F(LoadServerClientTest, StatusMessagesAreSentByteExact) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        EXPECT_EQ(side.receiveMessage().value_or(""),
                  "Content-Length: 0\r\nLast-Good-Block: 4\r\nNext-Block-Expected: 5\r\nStatus: Success\r\n"
                  "Status-Text: OK_TO_CONTINUE\r\n\r\n");
        EXPECT_EQ(side.receiveMessage().value_or(""),
                  "Content-Length: 0\r\nLast-Good-Block: -1\r\nNext-Block-Expected: -1\r\nStatus: Error\r\n"
                  "Status-Text: MD5 Failed after Completed Transfer.\r\n\r\n");
        EXPECT_EQ(side.receiveMessage().value_or(""),
                  "Content-Length: 0\r\nLast-Good-Block: -1\r\nNext-Block-Expected: -1\r\nStatus: Error\r\n"
                  "Status-Text: Message too large to Send!.\r\n\r\n")
            << "an empty text sends the last error text";
        EXPECT_EQ(side.receiveMessage().value_or(""),
                  "Content-Length: 4\r\nLast-Good-Block: 0\r\nNext-Block-Expected: 1\r\nStatus: Success\r\n"
                  "Status-Text: x\r\n\r\nbody");
    });
    PadClient client(installation("", "", 0));
    connect(client, server);
    EXPECT_TRUE(client.SendStatus("OK_TO_CONTINUE", 4, 5, "", false));
    EXPECT_TRUE(client.SendErrorStatus("MD5 Failed after Completed Transfer."));
    const std::string tooLarge(20000, 'x');
    EXPECT_FALSE(client.EncryptSend(tooLarge.data(), tooLarge.size()));
    EXPECT_TRUE(client.SendErrorStatus(""));
    EXPECT_TRUE(client.SendStatus("x", 0, 1, "body", false));
    server.join();
}

TEST_F(LoadServerClientTest, ChallengeResponseAndBlockAreReceivedWhole) {
    const std::string block = "\0\x1c\r\n\r\nbinary"s + std::string(40000, '\xff');
    TlsTestServer server([&block](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        // Headers and body in separate records: only the announced length completes it.
        side.sendRecord("Content-Length: 8\r\n\r\n");
        side.sendRecord("A1B2C3D4");
        EXPECT_TRUE(side.receiveMessage());
        side.sendRecord(wire("Content-Length: 42\nX-Ignored: yes\n\nCR=00FF~Status=Success~KVRN_DEV_ID=12~junk"));
        ASSERT_TRUE(side.receiveMessage());
        // A block of more than two records, with the header in the first.
        const std::string message = "BlockNo: 7\r\nContent-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block;
        std::string twoRecords = side.seal(message.substr(0, 100));
        twoRecords += side.seal(message.substr(100, 16000));
        side.sendRaw(twoRecords);
        side.sendRecord(message.substr(16100, 16000));
        side.sendRecord(message.substr(32100));
        side.awaitPeerClose();
    });
    PadClient client(installation("", "", 0));
    connect(client, server);
    std::string challenge = "stale";
    ASSERT_TRUE(client.ReceiveChallenge(challenge)) << client.LastErrorText();
    EXPECT_EQ(challenge, "A1B2C3D4");

    client.BuildFileRequest(kClientChallenge, "", "F");
    LoadServerResponse response;
    ASSERT_TRUE(client.Exchange(response)) << client.LastErrorText();
    EXPECT_EQ(response.challengeAnswer, "00FF");
    EXPECT_EQ(response.loadIdentifier, "12");

    ASSERT_TRUE(client.SendStatus("OK_TO_CONTINUE", 0, 1, "", false));
    ASSERT_TRUE(client.ReceiveBlock(response)) << client.LastErrorText();
    EXPECT_EQ(response.blockNumber, "7");
    EXPECT_EQ(response.rawBody, block) << "block bytes stay raw and byte-exact";
    EXPECT_TRUE(response.status.empty()) << "a block body is not split into items";
}

TEST_F(LoadServerClientTest, UnreadableMessages) {
    const struct {
        const char* what;
        std::string sent;
        const char* text;
    } cases[] = {
        {"no header line", wire("\r\nCR=00~Status=Success~"), "Failed to Parse HTTP Response 3406"},
        {"no body", "Content-Length: 0\r\n\r\n", "Empty Payload 3407"},
    };
    for (const auto& entry : cases) {
        for (int receive = 0; receive < 3; ++receive) {
            TlsTestServer server([&entry](TlsServerSide& side) {
                ASSERT_TRUE(side.handshake());
                side.sendRecord(entry.sent);
                side.awaitPeerClose();
            });
            PadClient client(installation("", "", 0));
            connect(client, server);
            LoadServerResponse response;
            std::string challenge;
            const bool received = receive == 0   ? client.ReceiveChallenge(challenge)
                                  : receive == 1 ? client.ReceiveResponse(response)
                                                 : client.ReceiveBlock(response);
            EXPECT_FALSE(received) << entry.what;
            EXPECT_EQ(client.LastErrorText(), entry.text) << entry.what << ", receive " << receive;
        }
    }
}

TEST_F(LoadServerClientTest, AMessageOver64MiBIsRefusedWhileItArrives) {
    // Announced and sent in full by the server, unless the client leaves first.
    constexpr std::size_t kBodyBytes = 70 * 1024 * 1024;
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        if (!side.sendRecord("Content-Length: " + std::to_string(kBodyBytes) + "\r\n\r\n")) return;
        const std::string piece(16384, 'M');
        for (std::size_t sent = 0; sent < kBodyBytes; sent += piece.size())
            if (!side.sendRecord(piece)) return;
        side.awaitPeerClose(30000);
    });
    PadClient client(installation("", "", 0));
    connect(client, server);
    std::string challenge;
    EXPECT_FALSE(client.ReceiveChallenge(challenge));
    EXPECT_EQ(client.LastErrorText(), "Message from the load server larger than 64 MiB.");
    EXPECT_LE(client.receiveBuffer().capacity(), 65u * 1024 * 1024);
    client.Disconnect();
    server.join();
}

TEST_F(LoadServerClientTest, TheDigestIsOfTheBlocksAcceptedFedAsTheyArrive) {
    const std::string first(3000, 'a'), wrong(2000, 'w'), second(2000, 'b');
    const auto block = [](int number, const std::string& bytes) {
        return "BlockNo: " + std::to_string(number) + "\r\nContent-Length: " + std::to_string(bytes.size()) +
               "\r\n\r\n" + bytes;
    };
    TlsTestServer server([&](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        ASSERT_TRUE(side.receiveMessage());  // asks for block 1
        side.sendRecord(block(1, first));
        ASSERT_TRUE(side.receiveMessage());
        side.sendRecord(block(3, wrong));  // out of sequence: asked for again, not stored
        ASSERT_TRUE(side.receiveMessage());
        side.sendRecord(block(2, second));
        side.awaitPeerClose();
    });
    PadClient client(installation("", "", 0));
    LoadJob job;
    ByteArray file;
    job.downloadTarget = &file;
    client.setOwner(&job);
    connect(client, server);
    ASSERT_TRUE(client.DownloadBlocks(5000)) << client.LastErrorText();
    const std::string stored = first + second;
    ASSERT_EQ(std::string(file.begin(), file.end()), stored);
    const Md5::Digest digest = Md5::digest(stored.data(), stored.size());
    // What was accepted is what counts, not what the target holds by the time of the check.
    file.assign(5000, 'x');
    EXPECT_TRUE(client.VerifyDownloadDigest(HexEncode(digest.data(), digest.size())));
    client.Disconnect();
    server.join();
}

TEST_F(LoadServerClientTest, ReceiveEndsAtTheSessionEndOrInSilence) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        // Silent until the client has given up waiting and speaks.
        EXPECT_TRUE(side.receiveMessage());
        // An announced length never met, then the end of the session and of TCP.
        std::string bytes = side.seal("Content-Length: 100\r\n\r\npartial");
        bytes += side.sealCloseNotify();
        side.sendRaw(bytes);
        side.closeTcp();
    });
    PadClient client(installation("", "", 0));
    connect(client, server);
    EXPECT_EQ(client.ReceiveMessage(300, false), 0);
    EXPECT_EQ(client.LastErrorText(), "Timeout Waiting for Verifiable Packet from server  (ReceiveAndDecrypt)");
    EXPECT_TRUE(client.SendStatus("ping", -1, -1, "", false));

    std::string challenge;
    EXPECT_TRUE(client.ReceiveChallenge(challenge)) << "what came before the session end is the message";
    EXPECT_EQ(challenge, "partial");
    EXPECT_EQ(client.ReceiveMessage(10000, false), 0) << "nothing after the end";
}

TEST_F(LoadServerClientTest, FallsBackToTheSecondaryHost) {
    TlsTestServer server(
        [](TlsServerSide& side) {
            ASSERT_TRUE(side.handshake());
            side.awaitPeerClose();
        },
        "127.0.0.2");
    // Nothing listens on that port of 127.0.0.3.
    PadClient client(installation("127.0.0.3", "127.0.0.2", server.port()));
    LoadJob job;
    std::atomic<int> announced{0};
    job.progressWindow = ProgressWindowHandle::open([&announced] { announced++; });
    client.setOwner(&job);
    EXPECT_TRUE(client.ConnectToLoadServer()) << client.LastErrorText();
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(announced.load(), 2) << "one progress text per host tried";
    EXPECT_EQ(StatusMailbox::processWide().text(), "Contacting Korvane load server");
    client.Disconnect();
    job.progressWindow.retire();
}

TEST_F(LoadServerClientTest, BothHostsUnreachableLeaveTheSecondarysText) {
    test::RefusingPort refusing;
    const struct {
        std::string primary;
        std::string secondary;
        const char* text;
    } cases[] = {
        {"127.0.0.1", "bad..name", "DNS Lookup of 'bad..name' Failed with Error "},
        {"bad..name", "127.0.0.1", "Socket Error Trying to Connect Error 3006"},
    };
    for (const auto& entry : cases) {
        PadClient client(installation(entry.primary, entry.secondary, refusing.port()));
        EXPECT_FALSE(client.ConnectToLoadServer());
        EXPECT_TRUE(client.LastErrorText().starts_with(entry.text)) << client.LastErrorText();
        EXPECT_FALSE(client.isOpen());
    }
}

}  // namespace
}  // namespace korvane
