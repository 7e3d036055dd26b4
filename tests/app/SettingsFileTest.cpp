#include "app/SettingsFile.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace korvane {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

TEST(SettingsFile, EncodingRoundTripsInAllThreePrefixForms) {
    struct Case {
        std::string text;
        std::string prefix;
    };
    const Case cases[] = {
        {"12", bytes({0x02})},
        {"", bytes({0x00})},
        {std::string(254, '7'), bytes({0xFE})},
        {std::string(255, '7'), bytes({0xFF, 0xFF, 0x00})},
        {std::string(300, '7'), bytes({0xFF, 0x2C, 0x01})},
        {std::string(65533, '7'), bytes({0xFF, 0xFD, 0xFF})},
        {std::string(65534, '7'), bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
        {std::string(70000, '7'), bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
        {bytes({0x00, 0xFF, 0x80}), bytes({0x03})},
    };
    for (const Case& c : cases) {
        const std::string encoded = SettingsFile::encode(c.text);
        EXPECT_EQ(encoded, c.prefix + c.text) << "length " << c.text.size();
        EXPECT_EQ(SettingsFile::decode(encoded), c.text) << "length " << c.text.size();
        EXPECT_EQ(SettingsFile::decode(encoded + "trailing"), c.text) << "bytes after the string are ignored";
    }
    EXPECT_EQ(SettingsFile::encode("12"), bytes({0x02, 0x31, 0x32}));
}

TEST(SettingsFile, ShortFilesAndPrefixesNeverWrittenAreUnreadable) {
    const std::string cases[] = {
        "",
        bytes({0x05, '1', '2'}),                      // shorter than its prefix says
        bytes({0xFF}),                                // cut inside the prefix
        bytes({0xFF, 0x2C}),
        bytes({0xFF, 0xFF, 0xFF, 0x00}),
        bytes({0xFF, 0x02, 0x00, '1', '2'}),          // a short length in the three-byte form
        bytes({0xFF, 0xFE, 0xFF}),                    // 65534 belongs to the long form
        bytes({0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, '1', '2'}),  // a short length in the long form
    };
    for (const std::string& file : cases) EXPECT_FALSE(SettingsFile::decode(file).has_value()) << file.size();
}

TEST(SettingsFile, MissingOrDamagedFileReadsAsPortOne) {
    test::TempDir dir;
    EXPECT_EQ(SettingsFile(dir.file("absent.dat")).load(), "1");
    dir.write("short.dat", bytes({0x09, '1'}));
    EXPECT_EQ(SettingsFile(dir.file("short.dat")).load(), "1");
    dir.write("empty.dat", "");
    EXPECT_EQ(SettingsFile(dir.file("empty.dat")).load(), "1");
}

TEST(SettingsFile, SaveReplacesTheWholeFile) {
    test::TempDir dir;
    const SettingsFile settings(dir.file(SettingsFile::kFileName));
    ASSERT_TRUE(settings.save(std::string(300, '9')));
    ASSERT_TRUE(settings.save("12"));
    EXPECT_EQ(dir.read(SettingsFile::kFileName), bytes({0x02, 0x31, 0x32}));
    EXPECT_EQ(settings.load(), "12");
    ASSERT_TRUE(settings.save(""));
    EXPECT_EQ(dir.read(SettingsFile::kFileName), bytes({0x00}));
    EXPECT_EQ(settings.load(), "");
}

TEST(SettingsFile, FailedSaveLeavesTheOldFileAndNoLitter) {
    test::TempDir dir;
    dir.write("settings.dat", bytes({0x01, '5'}));
    // A directory in the file's place cannot be replaced by a file.
    ASSERT_EQ(::mkdir(dir.file("blocked.dat").c_str(), 0700), 0);
    EXPECT_FALSE(SettingsFile(dir.file("blocked.dat")).save("12"));
    EXPECT_FALSE(SettingsFile(dir.file("no-such-dir/settings.dat")).save("12"));
    EXPECT_EQ(SettingsFile(dir.file("settings.dat")).load(), "5");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2) << "no temporary file may be left behind";
}

}  // namespace
}  // namespace korvane
