#include "pad/RbaFields.h"
#include "pad/RbaReplies.h"

#include "pad/ControlChars.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using namespace std::string_literals;

// Wire text with "~" for FS and "^" for GS, framed with ETX and a check byte.
std::string reply(std::string text) {
    for (char& c : text) {
        if (c == '~') c = kFs;
        if (c == '^') c = kGs;
    }
    return appendLrc("\x02"s + text + "\x03");
}

TEST(SplitFields, NumbersPiecesAsTheyCome) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    };
    const std::string delimiters = "~|";
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a~b|c", {"a", "b", "c"}},
        {"a~~b", {"a", "", "b"}},          // an empty piece still takes its number
        {"~a", {"", "a"}},
        {"a~", {"a"}},                     // nothing after the last delimiter: no piece
        {"a~b|", {"a", "b"}},
        {"~~", {"", ""}},
    };
    for (const Case& c : cases) {
        const auto fields = splitFields(c.text, delimiters);
        EXPECT_EQ(fields, c.pieces) << c.text;
        for (size_t n = 0; n <= c.pieces.size() + 1; ++n)
            EXPECT_EQ(fieldAt(fields, n), n >= 1 && n <= c.pieces.size() ? c.pieces[n - 1] : "") << c.text << n;
    }
}

TEST(IdentificationReply, FillsTheFieldsByPiece) {
    const std::string good =
        reply("07.INGENICO~iPP350~SN~4~5~6~7~8~2301~RBA23~CFG17~12~13~OEM42~15~16");
    ASSERT_TRUE(isIdentificationReply(good));
    DeviceInfo device;
    takeIdentificationFields(good, device);
    EXPECT_EQ(device.padModel, "iPP350");
    EXPECT_EQ(device.padAppVersion, "2301");
    EXPECT_EQ(device.appVersion, "RBA23");
    EXPECT_EQ(device.configVersion, "CFG17");
    EXPECT_EQ(device.oemId, "OEM42");

    // Missing pieces leave their fields alone; the check byte is never a piece.
    DeviceInfo kept;
    kept.padAppVersion = "old9";
    kept.oemId = "oldOem";
    takeIdentificationFields(reply("07.X~iSC250~3~4~5~6~7~8"), kept);
    EXPECT_EQ(kept.padModel, "iSC250");
    EXPECT_EQ(kept.padAppVersion, "old9");
    EXPECT_EQ(kept.oemId, "oldOem");
    takeIdentificationFields(reply("07.X~m~3~4~5~6~7~8~9~10~11~12~13"), kept);
    EXPECT_EQ(kept.configVersion, "11");
    EXPECT_EQ(kept.oemId, "oldOem") << "piece 14 would otherwise be the check byte";

    EXPECT_FALSE(isIdentificationReply(reply("08.X~m")));
    EXPECT_FALSE(isIdentificationReply("\x02" "07"));
    EXPECT_FALSE(isIdentificationReply(""));
}

TEST(ParameterReply, ValueIsTheThirdPiece) {
    EXPECT_EQ(parameterValueOf(reply("61.214^05^1000")), "1000");
    EXPECT_EQ(parameterValueOf(reply("61.214^05^")), "");
    EXPECT_EQ(parameterValueOf(reply("61.214^05")), "") << "not the check byte";
    EXPECT_EQ(parameterValueOf(reply("61.214^05^KORVANE~x")), "KORVANE\x1c" "x");
    EXPECT_TRUE(replyStartsWith(reply("61.214"), "61.2"));
    EXPECT_FALSE(replyStartsWith(reply("61.414"), "61.2"));
    EXPECT_FALSE(replyStartsWith("61.2", "61.2")) << "STX first";
}

TEST(KeyReply, AcceptsThePrefixAndTheTableOnly) {
    EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_0=FFFF01~KSN_4=9189140000000001")), "");
    EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_0=FFFF01~KSN_4=918914")), "") << "six characters are enough";
    for (const std::string_view keySet : kAcceptedKeySets) {
        const std::string set(keySet);
        EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_0=1~KSN_4=" + set + "E00001")), "") << set;
        // The same set with its last digit changed is refused.
        std::string near = set;
        near.back() = near.back() == '9' ? '0' : static_cast<char>(near.back() + 1);
        if (std::find(kAcceptedKeySets.begin(), kAcceptedKeySets.end(), near) != kAcceptedKeySets.end()) continue;
        EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_0=1~KSN_4=" + near + "E00001")),
                  "Incorrect PAN key found. Please contact Korvane.")
            << near;
    }
    EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_4=FFFFAF4210")), "No PIN key found.");
    EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_0=FFFF01")), "No PAN key found.");
    EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_0=1~KSN_4=91891")), "Incorrect PAN key found. Please contact Korvane.");
}

TEST(BadReplies, GiveEmptyFieldsOrTheFailureText) {
    DeviceInfo device;
    for (const std::string& bad : {""s, "\x02"s, "\x02" "07."s, "\x02" "07.\x1c"s, "07."s, "\x03\x03"s}) {
        takeIdentificationFields(bad, device);
        EXPECT_EQ(parameterValueOf(bad), "");
    }
    // Cut short: no FS at all.
    takeIdentificationFields(reply("07.INGENICO iPP350 2301"), device);
    EXPECT_EQ(device.padModel, "");
    // 70000 bytes in one piece, and many pieces.
    DeviceInfo big;
    const std::string huge = reply("07." + std::string(70000, 'A'));
    takeIdentificationFields(huge, big);
    EXPECT_EQ(big.padModel, "");
    std::string many = "07.";
    for (int i = 0; i < 20000; ++i) many += "x~";
    takeIdentificationFields(reply(many), big);
    EXPECT_EQ(big.padModel, "x");
    EXPECT_EQ(big.oemId, "x");

    // "KSN_4=" at the very end of the text, or of the bytes.
    EXPECT_EQ(judgeKeyReply("KSN_0=1KSN_4="), "Incorrect PAN key found. Please contact Korvane.");
    EXPECT_EQ(judgeKeyReply(reply("29.2~KSN_0=1~KSN_4=")), "Incorrect PAN key found. Please contact Korvane.");
    EXPECT_EQ(judgeKeyReply(""), "No PIN key found.");
}

}  // namespace
}  // namespace korvane
