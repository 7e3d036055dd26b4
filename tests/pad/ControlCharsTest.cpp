#include "pad/ControlChars.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using namespace std::string_literals;

TEST(ControlChars, RenderingNamesControlBytesAndHexesTheTop) {
    struct Case {
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"\x00"s, "[NL]"}, {"\x02"s, "[SX]"}, {"\x03"s, "[EX]"}, {"\x15"s, "[NK]"}, {"\x1C"s, "[FS]"},
        {"\x1D"s, "[GS]"}, {"\x1F"s, "[US]"}, {" "s, " "}, {"z"s, "z"}, {"{"s, "[7b]"}, {"~"s, "[7e]"},
        {"\x7F"s, "[7f]"}, {"\x80"s, "[80]"}, {"\xFF"s, "[ff]"},
        {"\x02" "61.2\x1D" "14\x03\x7E"s, "[SX]61.2[GS]14[EX][7e]"},
        {""s, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(renderControlChars(c.bytes), c.shown);
}

TEST(ControlChars, CheckByteIsTheXorAfterStx) {
    // An empty text: the check byte is ETX itself.
    EXPECT_EQ(appendLrc("\x02\x03"s), "\x02\x03\x03"s);
    EXPECT_EQ(buildFrame(""), "\x02\x03\x03"s);
    // '0' ^ '7' ^ '.' ^ ETX = 0x2A.
    EXPECT_EQ(buildFrame("07."), "\x02" "07.\x03\x2A"s);

    std::string placeholder = "\x02" "07.\x03?"s;
    appendLrc(placeholder.data(), placeholder.size());
    EXPECT_EQ(placeholder, buildFrame("07."));
    std::string tiny = "x";
    appendLrc(tiny.data(), tiny.size());
    EXPECT_EQ(tiny, "x");
}

TEST(ControlChars, ReceiveChecks) {
    struct Case {
        std::string reply;
        bool eightBit;
        bool sevenBit;
    };
    const Case cases[] = {
        {buildFrame("61.2\x1D" "5"), true, true},
        {"\x02" "07.\x03\x2B"s, false, false},
        {""s, false, false},
        {"\x02"s, false, false},
        {"\x02\x03"s, false, false},
        {"\x02\x03\x03"s, true, true},
        // A byte above 7F: the seven-bit check masks it, the check byte is compared as sent.
        {"\x02" "A\xC1\x03\x03"s, false, true},
        {"\x02" "A\xC1\x03\x83"s, true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkLrc(c.reply), c.eightBit) << renderControlChars(c.reply);
        EXPECT_EQ(checkLrcSevenBit(c.reply), c.sevenBit) << renderControlChars(c.reply);
    }
}

}  // namespace
}  // namespace korvane
