#include "pad/RbaPad.h"

#include "pad/ControlChars.h"
#include "tests/pad/RbaPadRig.h"
#include "tools/padpeer/PadPeer.h"
#include "job/CancelRequested.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using namespace std::string_literals;
using padpeer::PadPeer;

using Replies = std::vector<std::string>;

// The pad's escaping as the protocol states it, written out here on its own.
std::string escaped(const ByteArray& data) {
    std::string out;
    for (const uint8_t byte : data) {
        if (byte == 0xFF) out += "\xFF\xFF"s;
        else if (byte < 0x20) out += "\xFF"s + static_cast<char>(byte + 0x20);
        else out += static_cast<char>(byte);
    }
    return out;
}

ByteArray plain(size_t size, uint8_t value = 'A') { return ByteArray(size, value); }

// A rig whose pad answers the block that ends a file with `finalReply`.
class DownloadTest : public ::testing::Test {
protected:
    explicit DownloadTest(bool usb = true) : rig(usb) {
        peer.start();
    }

    std::vector<std::string> blocks() const {
        std::vector<std::string> all;
        for (const std::string& frame : peer.framesReceived()) all.push_back(padpeer::textOf(frame));
        return all;
    }

    bool load(const ByteArray& data, const std::string& name = "F.BIN") {
        error.clear();
        return rig.pad.loadFile(data, name, error);
    }

    test::RbaPadRig rig;
    std::string finalReply = "62.0";
    PadPeer peer{rig.line.pad, [this](const std::string& text) {
                     const bool ends = text.size() > 3 && (text[3] == '0' || text[3] == '3');
                     return ends ? Replies{finalReply} : Replies{};
                 }};
    std::string error;
    int naks = 0;
};

TEST_F(DownloadTest, BlockCountHeaderAndPayloadAreByteExact) {
    ASSERT_TRUE(load({}));
    EXPECT_TRUE(blocks().empty()) << "empty data sends nothing";
    EXPECT_TRUE(rig.statuses().empty());

    ASSERT_TRUE(load(plain(4000))) << error;
    ASSERT_EQ(blocks().size(), 1u);
    EXPECT_EQ(blocks()[0], "62.0801000011F.BIN\x1c" + std::string(4000, 'A'));

    ASSERT_TRUE(load(plain(4001))) << error;
    ASSERT_EQ(blocks().size(), 3u);
    EXPECT_EQ(blocks()[1], "62.1801000011F.BIN\x1c" + std::string(4000, 'A'));
    EXPECT_EQ(blocks()[2], "62.3802000011A");

    // 3998 plain bytes and a line feed are 4000 on the wire: one block ending FF 2A.
    ByteArray exact = plain(3998);
    exact.push_back(0x0A);
    ASSERT_TRUE(load(exact)) << error;
    ASSERT_EQ(blocks().size(), 4u);
    EXPECT_EQ(blocks()[3], "62.0801000011F.BIN\x1c" + std::string(3998, 'A') + "\xFF\x2A"s);
    EXPECT_EQ(blocks()[3].size() - 19, 4000u);

    // One more plain byte: the escape runs the first block one over, the data
    // is used up and the counted second block goes out empty, still type "3".
    ByteArray over = plain(3999);
    over.push_back(0x0A);
    ASSERT_TRUE(load(over)) << error;
    ASSERT_EQ(blocks().size(), 6u);
    EXPECT_EQ(blocks()[4], "62.1801000011F.BIN\x1c" + std::string(3999, 'A') + "\xFF\x2A"s);
    EXPECT_EQ(blocks()[5], "62.3802000011");

    EXPECT_EQ(rig.statuses(), (std::vector<std::string>{
                                  "Loading F.BIN block 1 of 1", "Loading F.BIN block 1 of 2",
                                  "Loading F.BIN block 2 of 2",
                                  "RBA load complete. Waiting for device to install and restart.",
                                  "Loading F.BIN block 1 of 1", "Loading F.BIN block 1 of 2",
                                  "Loading F.BIN block 2 of 2",
                                  "RBA load complete. Waiting for device to install and restart."}));
}

TEST_F(DownloadTest, EveryByteValueIsEscapedAsStated) {
    ByteArray all;
    for (int value = 0; value < 256; ++value) all.push_back(static_cast<uint8_t>(value));
    ASSERT_TRUE(load(all, "ALL.DAT")) << error;
    ASSERT_EQ(blocks().size(), 1u);
    EXPECT_EQ(blocks()[0], "62.0801000011ALL.DAT\x1c" + escaped(all));
    // No control byte travels raw in a payload.
    const std::string payload = blocks()[0].substr(21);
    for (const char c : payload) EXPECT_GE(static_cast<uint8_t>(c), 0x20);
}

TEST_F(DownloadTest, OgzFlagFollowsTheExactCaseOfTheName) {
    const std::pair<const char*, char> cases[] = {
        {"APP.OGZ", '0'}, {"app.ogz", '0'}, {"OGZ", '0'},    {"app.Ogz", '1'},
        {"app.oGZ", '1'}, {"GZ", '1'},      {"APP.TGZ", '1'}, {"APP.OGZ.", '1'},
    };
    for (const auto& [name, flag] : cases) {
        ASSERT_TRUE(load(plain(10), name)) << name;
        EXPECT_EQ(blocks().back()[11], flag) << name;
        EXPECT_EQ(blocks().back().substr(0, 11), "62.08010000") << name;
    }
}

TEST_F(DownloadTest, SequenceWrapsAfterNinetyNine) {
    ASSERT_TRUE(load(plain(100 * 4000 + 1), "BIG.BIN")) << error;
    const auto sent = blocks();
    ASSERT_EQ(sent.size(), 101u);
    EXPECT_EQ(sent[0].substr(0, 13), "62.1801000011");
    EXPECT_EQ(sent[1].substr(0, 13), "62.2802000011");
    EXPECT_EQ(sent[98].substr(0, 13), "62.2899000011");
    EXPECT_EQ(sent[99].substr(0, 13), "62.2801000011") << "the 100th block carries 01";
    EXPECT_EQ(sent[100], "62.3802000011A");
    EXPECT_EQ(rig.statuses()[99], "Loading BIG.BIN block 100 of 101");
}

TEST_F(DownloadTest, ABlockIsSentSixTimesAtMost) {
    rig.onStatus = [this](const std::string& text) {
        if (text == "Loading F.BIN block 2 of 3") peer.nakNextFrames(naks);
    };
    naks = 5;
    ASSERT_TRUE(load(plain(8001))) << error;
    EXPECT_EQ(blocks().size(), 1u + 6u + 1u);

    naks = 6;
    EXPECT_FALSE(load(plain(8001)));
    EXPECT_EQ(error, "F.BIN Load Command To Device Failed on block 2.");
    EXPECT_EQ(rig.job.errorText, error);
    EXPECT_EQ(blocks().size(), 8u + 1u + 6u) << "the download stops at the failed block";
}

TEST_F(DownloadTest, TheLastBlockNeedsAnAnswerWith620) {
    finalReply = "62.9";
    EXPECT_FALSE(load(plain(5), "X.K3Z"));
    EXPECT_EQ(error, "X.K3Z Load Command (62.0) Returned Error. + [" +
                         renderControlChars(padpeer::frameOf("62.9").substr(1)) + "]");
    EXPECT_EQ(rig.job.errorText, error);

    finalReply = "61.0 62.0";  // "62.0" must follow an STX
    EXPECT_FALSE(load(plain(5), "X.K3Z"));

    peer.nakNextFrames(2);
    EXPECT_FALSE(load(plain(5), "X.K3Z"));
    EXPECT_EQ(error, "X.K3Z Load Command To Device Failed. + []");
    EXPECT_EQ(rig.job.errorText, error);
}

TEST_F(DownloadTest, CancelIsHonouredBeforeEachBlock) {
    cancelRequested = true;
    EXPECT_FALSE(load(plain(10)));
    cancelRequested = false;
    EXPECT_EQ(error, "User canceled file load.");
    EXPECT_EQ(rig.job.errorText, "User canceled file load.");
    EXPECT_TRUE(blocks().empty());
    EXPECT_EQ(rig.statuses(), std::vector<std::string>{"Canceling..."});

    // Pressed while block 2 goes out: block 3 is not sent.
    rig.onStatus = [](const std::string& text) {
        if (text == "Loading F.BIN block 2 of 3") cancelRequested = true;
    };
    EXPECT_FALSE(load(plain(8001)));
    cancelRequested = false;
    EXPECT_EQ(error, "User canceled file load.");
    EXPECT_EQ(blocks().size(), 2u);
    EXPECT_EQ(rig.statuses().back(), "Canceling...");
}

class SerialDownloadTest : public DownloadTest {
protected:
    SerialDownloadTest() : DownloadTest(false) {}
};

TEST_F(SerialDownloadTest, FramesAreTheSameOnASerialCable) {
    ASSERT_TRUE(load(plain(4001))) << error;
    ASSERT_EQ(blocks().size(), 2u);
    EXPECT_EQ(blocks()[1], "62.3802000011A");
}

}  // namespace
}  // namespace korvane
