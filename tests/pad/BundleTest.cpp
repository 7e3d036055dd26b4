#include "pad/Bundle.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

ByteArray bytes(const std::string& text) { return ByteArray(text.begin(), text.end()); }

std::string paddedName(const std::string& name) { return name + std::string(40 - name.size(), ' '); }

TEST(Bundle, ReadsEntriesAndTrimsNames) {
    const std::string text = "00000043" + paddedName("PACKINGLIST") + "A\nB" + "00000041" + paddedName("A") +
                             std::string(1, '\0') + "00000040" + paddedName("B");
    BundleEntries entries;
    ASSERT_TRUE(readBundle(bytes(text), entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries.at("PACKINGLIST"), bytes("A\nB"));
    EXPECT_EQ(entries.at("A"), ByteArray{0});
    EXPECT_TRUE(entries.at("B").empty());
}

TEST(Bundle, LaterEntryOfTheSameNameReplacesTheEarlier) {
    const std::string text = "00000042" + paddedName("F") + "ab" + "00000041" + paddedName("F") + "c";
    BundleEntries entries;
    ASSERT_TRUE(readBundle(bytes(text), entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.at("F"), bytes("c"));
}

TEST(Bundle, ShortLengthIsANameOnly) {
    BundleEntries entries;
    ASSERT_TRUE(readBundle(bytes("00000004NAME"), entries));
    EXPECT_TRUE(entries.at("NAME").empty());
}

TEST(Bundle, RefusesWhatIsNoWholeBundle) {
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"length cut short", "0000004"},
        {"entry cut short", "00000045" + paddedName("F") + "abc"},
        {"length past the end", "99999999" + paddedName("F")},
        {"trailing piece of a length", "00000040" + paddedName("F") + "0000"},
    };
    for (const auto& c : cases) {
        BundleEntries entries{{"old", {}}};
        EXPECT_FALSE(readBundle(bytes(c.text), entries)) << c.what;
    }
}

TEST(Bundle, NonDigitLengthsEndWithoutHanging) {
    // Leading digits only: "xx" reads as 0, an entry with an empty name and no data.
    BundleEntries entries;
    EXPECT_TRUE(readBundle(bytes("xx000000"), entries));
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_TRUE(readBundle(bytes("00000001Z"), entries));
    EXPECT_EQ(entries.count("Z"), 1u);
}

TEST(Bundle, WrittenEntriesReadBack) {
    ByteArray bundle;
    ByteArray big(70000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(appendBundleEntry(bundle, "PACKINGLIST", bytes("BIG\nEMPTY\n")));
    ASSERT_TRUE(appendBundleEntry(bundle, "BIG", big));
    ASSERT_TRUE(appendBundleEntry(bundle, "EMPTY", {}));
    EXPECT_FALSE(appendBundleEntry(bundle, std::string(41, 'N'), {}));
    BundleEntries entries;
    ASSERT_TRUE(readBundle(bundle, entries));
    EXPECT_EQ(entries.at("BIG"), big);
    EXPECT_TRUE(entries.at("EMPTY").empty());
    EXPECT_EQ(entries.size(), 3u);
}

}  // namespace
}  // namespace korvane
