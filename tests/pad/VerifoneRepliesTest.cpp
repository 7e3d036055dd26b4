#include "pad/VerifoneReplies.h"

#include "pad/ControlChars.h"
#include "tests/pad/RbaPadRig.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using test::wire;

// A fixed-position "S95" reply framed as the link delivers it: status, model
// at 3..7, application version at 20..28, OEM identifier at 47..62.
std::string serialReply(const std::string& status, const std::string& model, const std::string& version,
                        const std::string& oem) {
    std::string text = status + model;                       // positions 1..7 after the STX
    text.resize(19, '.');                                    // up to position 19
    text += version;                                         // 20..28
    text.resize(46, '.');                                    // up to position 46
    text += oem;                                             // 47..
    return buildFrame(text);
}

TEST(VerifoneReplies, FixedPositionReply) {
    const struct Case {
        const char* what;
        std::string reply;
        bool ok;
        std::string padModel, padAppVersion, oemId;
    } cases[] = {
        {"a Vx805", serialReply("00", "VX805", "000012345", "OEM-VX805-0001  "), true, "VX805", "12345",
         "OEM-VX805-0001"},
        {"a version of zeros only", serialReply("00", "VX805", "000000000", "X               "), true, "VX805", "",
         "X"},
        {"status other than 00", serialReply("01", "VX805", "000012345", "OEM"), false, "", "", ""},
        {"a reply ending inside the model", buildFrame("00VX"), true, "VX\x03", "", ""},
        {"a reply ending before the status", buildFrame("0"), false, "", "", ""},
        {"an empty reply", "", false, "", "", ""},
        {"a reply ending inside the version", buildFrame("00VX805............0001"), true, "VX805", "1\x03", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceInfo device;
        EXPECT_EQ(takeVerifoneSerialReply(c.reply, device), c.ok);
        if (c.ok) {
            // The cut reply's check byte follows its ETX.
            EXPECT_EQ(device.padModel.substr(0, c.padModel.size()), c.padModel);
            EXPECT_EQ(device.padAppVersion.substr(0, c.padAppVersion.size()), c.padAppVersion);
            EXPECT_EQ(device.oemId, c.oemId);
        } else {
            EXPECT_EQ(device.padModel, "");
        }
    }
}

TEST(VerifoneReplies, TaggedReply) {
    const struct Case {
        const char* what;
        std::string text;  // "~" FS, "^" GS; framed for the test
        bool ok;
        std::string padModel, version, oemId;
    } cases[] = {
        {"a P400", "S9500^11P400~120004711~15OEM-P400  ", true, "P400", "4711", "OEM-P400"},
        {"a Vx805 with extra text before the tags", "S9500xyz^11VX805~12001~15K", true, "VX805", "1", "K"},
        {"empty values", "S9500^11~12~15", true, "", "", ""},
        {"values shorter than their tags", "S9500^1~1~1", true, "", "", ""},
        {"status other than 00", "S9501^11P400~12001~15X", false, "", "", ""},
        {"too short for the status", "S95", false, "", "", ""},
        {"no GS", "S9500~11P400~12001~15X", false, "", "", ""},
        {"tag 15 missing", "S9500^11P400~12001", false, "", "", ""},
        {"tags 12 and 15 missing", "S9500^11P400", false, "", "", ""},
        {"the FS before the GS only", "S9500~12001~15X^11P400", false, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceInfo device;
        device.padModel = "before";
        EXPECT_EQ(takeVerifoneTagsReply(buildFrame(wire(c.text)), device), c.ok);
        if (c.ok) {
            EXPECT_EQ(device.padModel, c.padModel);
            EXPECT_EQ(device.padAppVersion, c.version);
            EXPECT_EQ(device.appVersion, c.version);
            EXPECT_EQ(device.oemId, c.oemId);
        } else {
            EXPECT_EQ(device.padModel, "before");
        }
    }
    DeviceInfo device;
    EXPECT_FALSE(takeVerifoneTagsReply("", device));
    // Without the ETX of the frame the last value has no end.
    EXPECT_FALSE(takeVerifoneTagsReply(wire("\x02S9500^11P400~12001~15X"), device));
}

TEST(VerifoneReplies, MessageTextsAndLinkResultTexts) {
    EXPECT_EQ(verifoneSerialQueryText(), "S95");
    EXPECT_EQ(verifoneTagsQueryText(), wire("S95~11,12,15"));
    EXPECT_EQ(verifoneDownloadModeText(true), "*01P2U");
    EXPECT_EQ(verifoneDownloadModeText(false), "*01P21");
    EXPECT_EQ(verifoneZ8Text("Upgrade failed"), wire("Z8Upgrade failed~~~"));
    EXPECT_STREQ(verifoneLinkResultText(1), "NAK Error from PinPad.");
    EXPECT_STREQ(verifoneLinkResultText(6), "NO Response from PinPad.");
    EXPECT_STREQ(verifoneLinkResultText(5), "Timeout Waiting for PinPad.");
    EXPECT_STREQ(verifoneLinkResultText(3), "Packet Error from PinPad.");
}

}  // namespace
}  // namespace korvane
