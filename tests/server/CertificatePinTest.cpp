// The installation's pin of the load server's certificate, at the secure channel.
#include "server/SecureChannel.h"

#include "tests/server/TlsTestServer.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

using test::TlsServerSide;
using test::TlsTestServer;

constexpr char kLoopback[] = "127.0.0.1";

// The pin as the installation configuration holds it: the digits alone.
std::string pinOf(const std::string& fingerprint) {
    std::string digits;
    for (char c : fingerprint)
        if (c != ':') digits += c;
    return digits;
}

class CertificatePinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(SecurityInterface::processWide().Initialise()); }

    const std::string ours = TlsServerSide::certificateSha256(0);
    const std::string other = TlsServerSide::certificateSha256(1);
};

TEST_F(CertificatePinTest, TheTwoTestIdentitiesDiffer) {
    ASSERT_EQ(ours.size(), 95u) << ours;
    ASSERT_NE(ours, other);
}

TEST_F(CertificatePinTest, AMatchingPinOrNoPinOpensAndTellsTheSession) {
    for (const std::string& pin : {pinOf(ours), std::string()}) {
        TlsTestServer server([](TlsServerSide& side) {
            ASSERT_TRUE(side.handshake());
            EXPECT_EQ(side.receivePlain(5).value_or(""), "hello");
            side.awaitPeerClose();
        });
        SecureChannel channel;
        channel.setServerCertificatePin(pin);
        ASSERT_TRUE(channel.Open(kLoopback, server.port(), 10000)) << pin << ": " << channel.LastErrorText();
        EXPECT_EQ(channel.serverCertificateSha256(), ours);
        EXPECT_EQ(channel.protocolVersion(), "TLSv1.2");
        EXPECT_FALSE(channel.cipherName().empty());
        EXPECT_TRUE(channel.EncryptSend("hello", 5)) << channel.LastErrorText();
        channel.Disconnect();
        EXPECT_EQ(channel.serverCertificateSha256(), "") << "nothing to tell once closed";
        server.join();
    }
}

TEST_F(CertificatePinTest, AnotherCertificateFailsTheHandshakeBeforeAnythingIsSentAndNamesBothFingerprints) {
    TlsTestServer server([](TlsServerSide& side) {
        EXPECT_FALSE(side.handshake()) << "the client must not finish the handshake";
        EXPECT_EQ(side.handshakesCompleted(), 0);
        EXPECT_FALSE(side.receivePlain(1, 2000)) << "no application data may follow";
    });
    SecureChannel channel;
    channel.setServerCertificatePin(pinOf(other));
    EXPECT_FALSE(channel.Open(kLoopback, server.port(), 10000));
    const std::string text = channel.LastErrorText();
    EXPECT_NE(text.find("expected SHA-256 " + other), std::string::npos) << text;
    EXPECT_NE(text.find("received SHA-256 " + ours), std::string::npos) << text;
    EXPECT_FALSE(channel.isOpen());
    EXPECT_FALSE(channel.EncryptSend("x", 1));
    server.join();
}

TEST_F(CertificatePinTest, ARenegotiationToAnotherCertificateFailsTheSameWay) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        side.presentCertificate(1);
        std::string records = side.seal("before,");
        records += side.sealHelloRequest();
        side.sendRaw(records);
        // Reading drives the new handshake, up to the client's refusal.
        EXPECT_FALSE(side.receivePlain(1)) << "the client must refuse the new certificate";
    });
    SecureChannel channel;
    channel.setServerCertificatePin(pinOf(ours));
    ASSERT_TRUE(channel.Open(kLoopback, server.port(), 10000)) << channel.LastErrorText();
    std::string text;
    int result = SecureChannel::kDataAppended;
    for (int call = 0; call < 4 && result == SecureChannel::kDataAppended; ++call) {
        std::size_t appended = 0;
        result = channel.ReceiveAndDecrypt(appended, text, 10000);
    }
    EXPECT_EQ(result, SecureChannel::kRenegotiationFailed) << channel.LastErrorText();
    EXPECT_EQ(text, "before,") << "nothing of the new session is taken";
    const std::string reason = channel.LastErrorText();
    EXPECT_NE(reason.find("expected SHA-256 " + ours), std::string::npos) << reason;
    EXPECT_NE(reason.find("received SHA-256 " + other), std::string::npos) << reason;
    channel.Disconnect();
    server.join();
}

TEST_F(CertificatePinTest, ARenegotiationKeepingThePinnedCertificateCarriesOn) {
    TlsTestServer server([](TlsServerSide& side) {
        ASSERT_TRUE(side.handshake());
        side.presentCertificate(0);
        std::string records = side.seal("before,");
        records += side.sealHelloRequest();
        side.sendRaw(records);
        ASSERT_TRUE(side.awaitHandshakes(2));
        side.sendRecord("after");
        // Reading drives the new handshake.
        EXPECT_EQ(side.receivePlain(4).value_or(""), "done");
    });
    SecureChannel channel;
    channel.setServerCertificatePin(pinOf(ours));
    ASSERT_TRUE(channel.Open(kLoopback, server.port(), 10000)) << channel.LastErrorText();
    std::string text;
    for (int call = 0; call < 4 && text.size() < 12; ++call) {
        std::size_t appended = 0;
        ASSERT_EQ(channel.ReceiveAndDecrypt(appended, text, 10000), SecureChannel::kDataAppended)
            << channel.LastErrorText();
    }
    EXPECT_EQ(text, "before,after");
    EXPECT_TRUE(channel.EncryptSend("done", 4)) << channel.LastErrorText();
    channel.Disconnect();
    server.join();
}

}  // namespace
}  // namespace korvane
