#include "payloads/Base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

namespace korvane {
namespace {

std::string asText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(Base64, DecodesTheVectorsOfRfc4648WithAndWithoutPadding) {
    const struct {
        const char* text;
        const char* decoded;
    } vectors[] = {
        {"", ""},
        {"Zg==", "f"},       {"Zm8=", "fo"},       {"Zm9v", "foo"},       {"Zm9vYg==", "foob"},
        {"Zm9vYmE=", "fooba"}, {"Zm9vYmFy", "foobar"},
        {"Zg", "f"},         {"Zm8", "fo"},        {"Zm9vYg", "foob"},    {"Zm9vYmE", "fooba"},
    };
    for (const auto& vector : vectors) EXPECT_EQ(asText(decodeBase64(vector.text)), vector.decoded) << vector.text;
}

TEST(Base64, StopsWhereTheRulesSay) {
    const struct {
        std::string text;
        std::string decoded;
        const char* rule;
    } cases[] = {
        {"Zm9vYmF", "fooba", "a last group of three characters gives two bytes"},
        {"Zm9vYm", "foob", "a last group of two characters gives one byte"},
        {"Zm9vY", "foo", "a last group of one character gives nothing"},
        {"Z", "", "a lone character gives nothing"},
        {"Zh", "f", "the bits past the last whole byte are dropped"},
        {"Zm9v=YmFy", "foo", "an = ends decoding at once"},
        {"Zg=Zm9v", "f", "an = inside a group ends it as a short group"},
        {"=Zm9v", "", "an = first leaves nothing"},
        {"Zm9v\nYmFy", "foo", "a line break ends decoding"},
        {"Zm9vYm\r\nFy", "foob", "a CR LF ends decoding after a short group"},
        {"Zm9v YmFy", "foo", "a space is outside the alphabet"},
        {"Zm9v-_Fy", "foo", "the URL-safe characters are outside the alphabet"},
        {std::string("Zm9v\0YmFy", 9), "foo", "a zero byte is outside the alphabet"},
        {"Zm9v\xC3\xA9YmFy", "foo", "a non-ASCII byte is outside the alphabet"},
        {"+/+/", "\xFB\xFF\xBF", "+ and / are the last two values"},
    };
    for (const auto& c : cases) EXPECT_EQ(asText(decodeBase64(c.text)), c.decoded) << c.rule;
}

TEST(Base64, DecodesWhatOpenSslEncodesForEveryLengthAndByteValue) {
    std::mt19937 generator(5);
    std::vector<uint8_t> data;
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i));
    for (std::size_t size = 0; size <= 300; ++size) {
        std::vector<uint8_t> input = size <= 256 ? std::vector<uint8_t>(data.begin(), data.begin() + long(size))
                                                 : std::vector<uint8_t>(size);
        if (size > 256)
            for (auto& byte : input) byte = static_cast<uint8_t>(generator());
        std::string encoded(4 * ((size + 2) / 3) + 1, '\0');
        const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), input.data(), int(size));
        encoded.resize(std::size_t(length));
        EXPECT_EQ(decodeBase64(encoded), input) << size << " bytes, padded";
        while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
        EXPECT_EQ(decodeBase64(encoded), input) << size << " bytes, unpadded";
    }
}

}  // namespace
}  // namespace korvane
