#include "server/SecureChannel.h"

#include "platform/Tick.h"
#include "tests/server/TlsTestServer.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <atomic>
#include <string>

namespace korvane {
namespace {

using test::TlsServerSide;
using test::TlsTestServer;

constexpr char kLoopback[] = "127.0.0.1";

class SecureChannelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(SecurityInterface::processWide().Initialise()); }

    // Opens `channel` to a server running `script`, which starts after its handshake.
    static void openTo(SecureChannel& channel, const TlsTestServer& server) {
        ASSERT_TRUE(channel.Open(kLoopback, server.port(), 10000)) << channel.LastErrorText();
    }

    // Decrypts until `expected` has arrived (a few calls at most) or a call fails.
    static std::string receiveUntil(SecureChannel& channel, std::size_t size) {
        std::string text;
        for (int call = 0; call < 4 && text.size() < size; ++call) {
            std::size_t appended = 0;
            const int result = channel.ReceiveAndDecrypt(appended, text, 10000);
            EXPECT_EQ(result, SecureChannel::kDataAppended) << channel.LastErrorText();
            if (result != SecureChannel::kDataAppended) break;
        }
        return text;
    }
};

TEST_F(SecureChannelTest, UnresolvableNameFailsWithTheLookupText) {
    SecureChannel channel;
    // Rejected by the resolver itself, so the test sends no name query.
    EXPECT_FALSE(channel.Open("bad..name", 443, 10000));
    EXPECT_TRUE(channel.LastErrorText().starts_with("DNS Lookup of 'bad..name' Failed with Error "))
        << channel.LastErrorText();
    EXPECT_FALSE(channel.isOpen());
}

TEST_F(SecureChannelTest, RefusedPortFailsAtOnce) {
    test::RefusingPort refusing;
    SecureChannel channel;
    const uint32_t start = tickCount();
    EXPECT_FALSE(channel.Open(kLoopback, refusing.port(), 10000));
    EXPECT_EQ(channel.LastErrorText(), "Socket Error Trying to Connect Error 3006");
    EXPECT_LT(elapsedSince(start), 5000u) << "a refusal must not wait for the time-out";
    EXPECT_FALSE(channel.isOpen());
}

TEST_F(SecureChannelTest, HandshakeAnsweredWithGarbageFails) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.receiveRaw());  // the ClientHello
        side.sendRaw("HTTP/1.0 400 Bad Request\r\n\r\n");
        side.awaitPeerClose();
    });
    SecureChannel channel;
    EXPECT_FALSE(channel.Open(kLoopback, server.port(), 10000));
    EXPECT_TRUE(channel.LastErrorText().starts_with("InitializeSecurityContext Failed(2) - Status = "))
        << channel.LastErrorText();
    EXPECT_FALSE(channel.isOpen()) << "a failed open leaves the object closed";
}

TEST_F(SecureChannelTest, ExchangesRecordsBothWaysAndEndsWithACloseNotification) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        EXPECT_EQ(side.receivePlain(5).value_or(""), "hello");
        side.sendRecord(std::string("wor\0ld", 6));
        EXPECT_TRUE(side.awaitCloseNotify()) << "Disconnect sends the close notification";
    });
    SecureChannel channel;
    openTo(channel, server);
    EXPECT_TRUE(channel.isConnected());
    EXPECT_EQ(channel.maximumMessageSize(), 16384u);
    ASSERT_TRUE(channel.EncryptSend("hello", 5));
    std::string text = "kept:";
    std::size_t appended = 0;
    EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, 10000), SecureChannel::kDataAppended);
    EXPECT_EQ(text, std::string("kept:wor\0ld", 11)) << "appended byte-exact";
    EXPECT_EQ(appended, 6u);
    channel.Disconnect();
    EXPECT_FALSE(channel.isOpen());
    server.join();
}

TEST_F(SecureChannelTest, NegotiatesEveryProtocolVersionTheServerMayUse) {
    for (int version : {TLS1_VERSION, TLS1_1_VERSION, TLS1_2_VERSION}) {
        TlsTestServer server([version](TlsServerSide& side) {
            side.limitVersion(version);
            ASSERT_TRUE(side.handshake());
            side.sendRecord("ok");
            side.awaitPeerClose();
        });
        SecureChannel channel;
        openTo(channel, server);
        EXPECT_EQ(receiveUntil(channel, 2), "ok") << "version " << std::hex << version;
        channel.Disconnect();
    }
}

TEST_F(SecureChannelTest, DataArrivingWithTheLastHandshakeFlightIsReturnedByTheFirstReceive) {
    TlsTestServer server([](TlsServerSide& side) {
        std::string finalFlight;
        ASSERT_TRUE(side.handshake(&finalFlight));
        // One TCP write: the client reads the challenge together with the Finished.
        side.sendRaw(finalFlight + side.seal("CHALLENGE"));
        side.awaitPeerClose();
    });
    SecureChannel channel;
    openTo(channel, server);
    std::string text;
    std::size_t appended = 0;
    // Nothing more comes: a lost record would end this call with the time-out.
    EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, 2000), SecureChannel::kDataAppended)
        << channel.LastErrorText();
    EXPECT_EQ(text, "CHALLENGE");
}

TEST_F(SecureChannelTest, ARecordSplitAcrossReadsIsDecryptedOnceComplete) {
    const std::string message(3000, 'm');
    TlsTestServer server([&message](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        std::string records = side.seal("whole,");
        const std::size_t splitStart = records.size();
        records += side.seal(message);
        const int client = test::localPeerSocket(side.fd());
        ASSERT_GE(client, 0);
        // A whole record with the start of the next one's header, then the
        // middle, then the rest; each piece waits until the client has read the one before.
        const std::size_t cuts[] = {0, splitStart + 3, splitStart + 1500, records.size()};
        for (int piece = 0; piece < 3; ++piece) {
            ASSERT_TRUE(test::awaitDrained(client));
            side.sendRaw(std::string_view(records).substr(cuts[piece], cuts[piece + 1] - cuts[piece]));
        }
        side.awaitPeerClose();
    });
    SecureChannel channel;
    openTo(channel, server);
    std::string text;
    std::size_t appended = 0;
    EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, 10000), SecureChannel::kDataAppended)
        << channel.LastErrorText();
    EXPECT_EQ(text, "whole," + message) << "one call returns both records";
}

TEST_F(SecureChannelTest, SeveralRecordsInOneReadAreAllDecryptedInOneCall) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        // Sealed in order (the records carry sequence numbers), sent in one write.
        std::string records = side.seal("one,");
        records += side.seal("two,");
        records += side.seal(std::string(16384, 'x'));
        side.sendRaw(records);
        side.awaitPeerClose();
    });
    SecureChannel channel;
    openTo(channel, server);
    std::string text;
    std::size_t appended = 0;
    EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, 10000), SecureChannel::kDataAppended)
        << channel.LastErrorText();
    EXPECT_EQ(text, "one,two," + std::string(16384, 'x'));
    EXPECT_EQ(appended, text.size());
}

TEST_F(SecureChannelTest, ServerCloseNotificationWhileReadingEndsTheSession) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        std::string records = side.seal("last");
        records += side.sealCloseNotify();
        side.sendRaw(records);
        side.awaitPeerClose();
    });
    SecureChannel channel;
    openTo(channel, server);
    std::string text;
    std::size_t appended = 0;
    EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, 10000), SecureChannel::kSessionEnded);
    EXPECT_EQ(channel.LastErrorText(), "Server Signaled End of Session. (ReceiveAndDecrypt)");
    EXPECT_EQ(text, "last") << "what came before the notification is kept";
    EXPECT_EQ(appended, 4u);
}

TEST_F(SecureChannelTest, TcpEndsAndSilence) {
    const struct {
        const char* what;
        std::function<void(TlsServerSide&)> after;
        uint32_t timeoutMs;
        int result;
        const char* text;
    } cases[] = {
        {"TCP close without notification", [](TlsServerSide& side) { side.closeTcp(); }, 10000,
         SecureChannel::kTimedOut, "Timeout Waiting for Verifiable Packet from server  (ReceiveAndDecrypt)"},
        {"TCP close inside a record",
         [](TlsServerSide& side) {
             side.sendRaw(side.seal("cut short").substr(0, 8));
             side.closeTcp();
         },
         10000, SecureChannel::kSocketError, "Server unexpectedly disconnected.(ReceiveAndDecrypt)"},
        {"nothing within the time", [](TlsServerSide& side) { side.awaitPeerClose(); }, 300,
         SecureChannel::kTimedOut, "Timeout Waiting for Verifiable Packet from server  (ReceiveAndDecrypt)"},
        {"a corrupted record",
         [](TlsServerSide& side) {
             std::string record = side.seal("tampered");
             record.back() ^= 0x01;
             side.sendRaw(record);
             side.awaitPeerClose();
         },
         10000, SecureChannel::kDecryptFailed, nullptr},
    };
    for (const auto& entry : cases) {
        TlsTestServer server([&entry](TlsServerSide& side) {
            ASSERT_TRUE(side.handshake());
            entry.after(side);
        });
        SecureChannel channel;
        openTo(channel, server);
        std::string text;
        std::size_t appended = 99;
        const uint32_t start = tickCount();
        EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, entry.timeoutMs), entry.result) << entry.what;
        if (entry.text != nullptr) {
            EXPECT_EQ(channel.LastErrorText(), entry.text) << entry.what;
        } else {
            EXPECT_TRUE(channel.LastErrorText().starts_with("Error 0x")) << channel.LastErrorText();
            EXPECT_TRUE(channel.LastErrorText().ends_with(" returned by DecryptMessage.")) << channel.LastErrorText();
        }
        EXPECT_EQ(appended, 0u) << entry.what;
        if (entry.timeoutMs == 10000) {
            EXPECT_LT(elapsedSince(start), 5000u) << entry.what << ": no waiting";
        }
        channel.Disconnect();
    }
}

TEST_F(SecureChannelTest, ARenegotiationTheServerAsksForIsCarriedOut) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        std::string records = side.seal("before,");
        records += side.sealHelloRequest();
        side.sendRaw(records);
        ASSERT_TRUE(side.awaitHandshakes(2));
        side.sendRecord("after");
        EXPECT_EQ(side.receivePlain(4).value_or(""), "done");
        side.awaitPeerClose();
    });
    SecureChannel channel;
    openTo(channel, server);
    EXPECT_EQ(receiveUntil(channel, 12), "before,after");
    EXPECT_TRUE(channel.EncryptSend("done", 4)) << "the renegotiated session carries on";
    channel.Disconnect();
    server.join();
}

// A channel whose socket fails its reads from a moment the test chooses on,
// as a reset or a dead route would (a plain TCP close reads as an end instead).
class FailingReadsChannel : public SecureChannel {
public:
    int ReceiveWithTimeout(void* buffer, std::size_t size, uint32_t timeoutMs) override {
        const uint32_t start = tickCount();
        while (!failReads.load()) {
            const uint32_t passed = elapsedSince(start);
            if (HasPendingData() || !IsAlive() || passed >= timeoutMs)
                return SecureChannel::ReceiveWithTimeout(buffer, size, passed >= timeoutMs ? 0 : timeoutMs - passed);
            sleepMs(1);
        }
        return -1;
    }
    std::atomic<bool> failReads{false};
};

TEST_F(SecureChannelTest, AFailedRenegotiationIsReported) {
    // The server leaves in the middle of the new handshake: by closing TCP,
    // or the socket fails the client's next read.
    for (const bool socketError : {false, true}) {
        SCOPED_TRACE(socketError ? "socket error" : "closed");
        FailingReadsChannel channel;
        TlsTestServer server([&channel, socketError](TlsServerSide& side) {
            ASSERT_TRUE(side.handshake());
            side.sendRaw(side.sealHelloRequest());
            EXPECT_TRUE(side.receiveRaw()) << "the client starts the new handshake";
            if (socketError) {
                channel.failReads = true;
                side.awaitPeerClose();
            }
            side.closeTcp();
        });
        openTo(channel, server);
        std::string text;
        std::size_t appended = 0;
        EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, 10000), SecureChannel::kRenegotiationFailed);
        EXPECT_EQ(channel.LastErrorText(), "Error occured during Renegotiate attempt requested by server.");
        channel.Disconnect();
        server.join();
    }
}

TEST_F(SecureChannelTest, SendsExactlyTheMaximumMessageSizeAndRefusesOneByteMore) {
    const std::string largest(16384, 'L');
    TlsTestServer server([&largest](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        EXPECT_EQ(side.receivePlain(largest.size()).value_or(""), largest);
        EXPECT_EQ(side.receivePlain(3).value_or(""), "end") << "nothing of the refused message was sent";
    });
    SecureChannel channel;
    openTo(channel, server);
    EXPECT_TRUE(channel.EncryptSend(largest.data(), largest.size())) << channel.LastErrorText();
    const std::string tooLarge(16385, 'T');
    EXPECT_FALSE(channel.EncryptSend(tooLarge.data(), tooLarge.size()));
    EXPECT_EQ(channel.LastErrorText(), "Message too large to Send!.");
    EXPECT_TRUE(channel.EncryptSend("end", 3));
    server.join();
}

TEST_F(SecureChannelTest, DisconnectIsSafeInAnyStateAndTheObjectOpensAgain) {
    SecureChannel channel;
    channel.Disconnect();
    channel.Disconnect();
    EXPECT_FALSE(channel.EncryptSend("x", 1)) << "nothing to send on";
    std::string text;
    std::size_t appended = 0;
    EXPECT_EQ(channel.ReceiveAndDecrypt(appended, text, 0), SecureChannel::kTimedOut);

    for (int round = 0; round < 2; ++round) {
        TlsTestServer server([](TlsServerSide& side) {
            ASSERT_TRUE(side.handshake());
            side.sendRecord("again");
            side.awaitPeerClose();
        });
        openTo(channel, server);
        EXPECT_EQ(receiveUntil(channel, 5), "again");
        channel.Disconnect();
        channel.Disconnect();
        EXPECT_FALSE(channel.isConnected());
    }
}

}  // namespace
}  // namespace korvane
