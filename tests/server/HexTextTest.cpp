#include "server/HexText.h"
#include "server/LoadServerClient.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

TEST(HexText, EncodesTwoUpperCaseDigitsPerByteHighNibbleFirst) {
    const struct {
        std::string bytes;
        const char* text;
    } cases[] = {
        {"", ""},
        {std::string("\x00", 1), "00"},
        {"\x0f\xf0", "0FF0"},
        {"\x01\x23\x45\x67\x89\xab\xcd\xef", "0123456789ABCDEF"},
        {"\xff\x7f\x80", "FF7F80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexEncode(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.text) << c.text;
    }
}

TEST(HexText, DecodesOnlyDigitsAndUpperCaseLettersEverythingElseIsZero) {
    const struct {
        char high, low;
        int value;
    } cases[] = {
        {'0', '0', 0x00}, {'0', '9', 0x09}, {'9', '0', 0x90}, {'A', 'F', 0xAF}, {'F', 'F', 0xFF},
        {'7', 'C', 0x7C},
        // Lower case counts as 0 for its nibble, whatever its value would be.
        {'a', 'f', 0x00}, {'f', 'F', 0x0F}, {'C', 'c', 0xC0},
        // Beyond "F", punctuation, blanks and control bytes.
        {'G', '1', 0x01}, {'1', 'Z', 0x10}, {' ', '/', 0x00}, {':', '@', 0x00}, {'\0', '8', 0x08},
        {'\xff', 'B', 0x0B},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexDecode(c.high, c.low), c.value) << "\"" << c.high << c.low << "\"";
    }
}

TEST(HexText, EveryByteSurvivesEncodeAndDecode) {
    for (int value = 0; value < 256; ++value) {
        const uint8_t byte = static_cast<uint8_t>(value);
        const std::string text = HexEncode(&byte, 1);
        EXPECT_EQ(HexDecode(text[0], text[1]), value) << text;
    }
}

class ServerOnlyClient : public LoadServerClient {
public:
    using LoadServerClient::LoadServerClient;
    int loadPackingList() override { return 0; }
};

TEST(FileDigest, MatchesOnlyTheExactUpperCaseMd5OfTheWholeFile) {
    ServerOnlyClient client{InstallationConfig{}};
    const ByteArray abc = {'a', 'b', 'c'};
    const ByteArray withZeros = {'a', 0, 'b', 'c'};
    const struct {
        const ByteArray& file;
        const char* digest;
        bool matches;
    } cases[] = {
        {abc, "900150983CD24FB0D6963F7D28E17F72", true},
        {abc, "900150983cd24fb0d6963f7d28e17f72", false},
        {abc, "900150983CD24FB0D6963F7D28E17F7", false},
        {abc, "900150983CD24FB0D6963F7D28E17F72 ", false},
        {withZeros, "900150983CD24FB0D6963F7D28E17F72", false},
        {ByteArray(), "D41D8CD98F00B204E9800998ECF8427E", true},
        {ByteArray(), "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(client.VerifyFileDigest(c.file, c.digest), c.matches) << c.digest;
    }
}

}  // namespace
}  // namespace korvane
