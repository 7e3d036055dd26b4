#include "pad/RbaLink.h"

#include "tests/pad/PadLine.h"
#include "tools/padpeer/PadPeer.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using namespace std::string_literals;
using padpeer::frameOf;

// The ETX and check byte that end a frame.
std::string endOf(const std::string& frame) { return frame.substr(frame.size() - 2); }

// Segment texts carry a five-character header after STX ("HY" or "HN" and
// three more), so their own text starts at offset 6 of the frame.
TEST(SegmentedTransact, AssemblesSegments) {
    struct Case {
        const char* name;
        std::vector<std::string> replies;
        int result;
        std::string assembled;
    };
    std::vector<std::string> tenSegments;
    std::string tenAssembled = "\x02";
    for (int i = 0; i < 10; ++i) {
        tenSegments.push_back("HY00" + std::to_string(i) + "part" + std::to_string(i));
        tenAssembled += "part" + std::to_string(i);
    }
    tenAssembled += endOf(frameOf(tenSegments.back()));
    const std::string lastEnd = endOf(frameOf("HN003last"));
    const Case cases[] = {
        {"three segments", {"HY001seg1-", "HY002seg2-", "HN003last"}, kLinkSuccess, "\x02seg1-seg2-last"s + lastEnd},
        {"lone last segment", {"HN003last"}, kLinkSuccess, "last"s + lastEnd},
        {"plain frame", {"T0H1"}, kLinkSuccess, frameOf("T0H1")},
        {"short segment", {"HY0", "HN003last"}, kLinkSuccess, "\x02last"s + lastEnd},
        {"ten segments", tenSegments, kLinkSuccess, tenAssembled},
        {"segment then silence", {"HY001seg1-"}, kLinkReplyTimeout, "\x02seg1-"s + endOf(frameOf("HY001seg1-"))},
    };
    for (const Case& c : cases) {
        test::PadLine line;
        SerialPort port;
        ASSERT_TRUE(line.openPort(port));
        const std::vector<std::string> replies = c.replies;
        padpeer::PadPeer pad(line.pad, [&](const std::string& text) {
            return text == "T" ? replies : std::vector<std::string>{};
        });
        pad.start();
        std::string reply;
        EXPECT_EQ(RbaLink(port).segmentedTransact(buildFrame("T"), reply, 2000, 300, kStx, kEtx), c.result)
            << c.name;
        EXPECT_EQ(renderControlChars(reply), renderControlChars(c.assembled)) << c.name;
    }
}

TEST(SegmentedTransact, RefusalsAndSilence) {
    test::PadLine line;
    SerialPort port;
    ASSERT_TRUE(line.openPort(port));
    RbaLink link(port);
    padpeer::PadPeer pad(line.pad, [](const std::string&) {
        return std::vector<std::string>{"HY001one-", "HN002two"};
    });
    pad.start();
    const std::string expected = "\x02one-two"s + endOf(frameOf("HN002two"));
    std::string reply;

    // A refused segment is sent again; the noise before it is not kept.
    pad.corruptNextReplies(1);
    pad.noiseBeforeNextReply("zz\x03");
    EXPECT_EQ(link.segmentedTransact(buildFrame("v"), reply, 2000, 2000, kStx, kEtx), kLinkSuccess);
    EXPECT_EQ(reply, expected);

    // Three refusals of the first segment: nothing collected.
    pad.corruptNextReplies(3);
    EXPECT_EQ(link.segmentedTransact(buildFrame("v"), reply, 2000, 2000, kStx, kEtx), kLinkReplyTimeout);
    EXPECT_EQ(reply, "");

    // No acknowledgement: sent once only.
    pad.ignoreNextFrames(1);
    EXPECT_EQ(link.segmentedTransact(buildFrame("v"), reply, 300, 2000, kStx, kEtx), kLinkAckTimeout);
    pad.stop();
    EXPECT_EQ(pad.framesReceived().size(), 3u);
    EXPECT_EQ(pad.naksReceived(), 1 + 3);
    EXPECT_EQ(line.leftAtPad(), "");
}

}  // namespace
}  // namespace korvane
