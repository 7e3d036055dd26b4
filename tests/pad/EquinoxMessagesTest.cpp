#include "pad/EquinoxMessages.h"

#include "pad/ControlChars.h"
#include "pad/TaggedField.h"
#include "tests/pad/RbaPadRig.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace korvane {
namespace {

using namespace std::string_literals;
using test::wire;

// A reply as the link delivers it: STX, the text ("~" for FS), ETX, check byte.
std::string reply(const std::string& text) { return buildFrame(wire(text)); }

TEST(EquinoxIdentity, TakesTheFieldsOfTheFReply) {
    struct Case {
        const char* what;
        std::string reply;
        std::string appVersion, configVersion, oemId;
    };
    const Case cases[] = {
        {"the example: 0012 and MV 0340", reply("F0012~a~b~OEM-0123456789~MV0340"), "0012", "1234", "OEM-01234567"},
        {"zeros trimmed at both ends", reply("F1000~~~X~MV0010"), "1000", "11", "X"},
        {"all zeros and no MV", reply("F0000~a~b~c"), "0000", "", "c"},
        {"an empty field keeps its number", reply("F2001~~~OEM~MV2"), "2001", "20012", "OEM"},
        {"three fields: no OEM field, the check byte is none", reply("F2001~a~b"), "2001", "2001", "(kept)"},
        {"field 1 shorter than the reply's positions", reply("F1~~~OEM"), "1", "1\x1c\x1c\x1c", "OEM"},
        {"MV inside a value is no tag", reply("F0500~aMV9~MV07"), "0500", "57", "(kept)"},
        {"a reply of two bytes", "\x02" "F", "", "", "(kept)"},
    };
    for (const Case& c : cases) {
        DeviceInfo device;
        device.oemId = "(kept)";
        takeEquinoxIdentity(c.reply, device);
        EXPECT_EQ(device.appVersion, c.appVersion) << c.what;
        EXPECT_EQ(device.configVersion, c.configVersion) << c.what;
        EXPECT_EQ(device.oemId, c.oemId) << c.what;
    }
}

TEST(EquinoxIdentity, ModelLetterIsCharacterTwo) {
    EXPECT_EQ(equinoxModelLetter(reply("TH")), "H");
    EXPECT_EQ(equinoxModelLetter(reply("TKL5300")), "K");
    EXPECT_EQ(equinoxModelLetter("\x02T"), "");
    EXPECT_EQ(equinoxModelLetter(""), "");
}

TEST(TaggedField, ValueAfterFsAndTagUpToFsOrEtxOrTheEnd) {
    const struct {
        std::string reply;
        const char* tag;
        const char* value;
    } cases[] = {
        {reply("v~VNKeyKsn.6~VV4FF0012~XX"), "VV", "4FF0012"},
        {reply("v~VVlast"), "VV", "last"},
        {wire("v~VVno end"), "VV", "no end"},
        {reply("v~VV~VVsecond"), "VV", ""},
        {reply("v~VN~XVV1"), "VV", ""},
        {reply("vVV1"), "VV", ""},
        {"", "VV", ""},
        {reply("F0012~MV0340~MVX"), "MV", "0340"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(findTaggedField(c.reply, c.tag), c.value) << renderControlChars(c.reply);
}

TEST(EquinoxKeys, PinKeySerialNumber) {
    const struct {
        const char* value;
        bool acceptable;
    } cases[] = {
        {"FFFF3D0190A1B2C3", true}, {"3D0185", true},  {"3D0198000", true}, {"FFFF3D0184", false},
        {"3D0199", false},          {"3E0190", false}, {"3d0190", false},   {"F3D0", false},
        {"FFFF", false},            {"", false},       {"3D019", false},    {"3D0+190", false},
        {"3D0 190", false},         {"F3DF190", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isAcceptablePinKsn(c.value), c.acceptable) << c.value;
}

TEST(EquinoxChunks, LayoutByFileSize) {
    const struct {
        size_t size;
        std::vector<std::string> heads;  // flag and length of each chunk
    } cases[] = {
        {0, {}},
        {1, {"N00001"}},
        {65000, {"N65000"}},
        {65001, {"Y65000", "N00001"}},
        {130001, {"Y65000", "Y65000", "N00001"}},
    };
    for (const auto& c : cases) {
        ByteArray file(c.size);
        for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
        ASSERT_EQ(equinoxChunkCount(c.size), c.heads.size()) << c.size;
        std::string data;
        for (size_t index = 0; index < c.heads.size(); ++index) {
            const std::string text = equinoxChunkText("APP.BIN", file, index);
            const std::string head = "PL5\x1c"s + c.heads[index] + "APP.BIN\x1c";
            ASSERT_EQ(text.substr(0, head.size()), head) << c.size << " chunk " << index;
            data += text.substr(head.size());
        }
        EXPECT_TRUE(data == std::string(file.begin(), file.end())) << c.size;
    }
}

TEST(EquinoxRequests, FileRequestsAndWhatIsNone) {
    const struct {
        std::string reply;
        std::optional<std::string> name;
    } cases[] = {
        {reply("RFORMS.DAT"), "FORMS.DAT"},
        {reply("R"), ""},
        {reply("RA\x03" "B"), "A"},
        {"RFILE\x03" "x", std::nullopt},  // a lone last segment has no STX
        {reply("TRFILE"), std::nullopt},
        {reply("XRFILE"), std::nullopt},
        {"\x02RFILE", std::nullopt},
        {"\x02R", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(requestedFileName(c.reply), c.name) << renderControlChars(c.reply);
}

}  // namespace
}  // namespace korvane
