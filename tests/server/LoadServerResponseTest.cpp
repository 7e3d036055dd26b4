#include "server/LoadServerResponse.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

using namespace std::string_literals;

const std::string FS = "\x1c";

LoadServerResponse parsed(const std::string& message) {
    LoadServerResponse response;
    EXPECT_TRUE(response.parseHeaders(message));
    response.parseItems();
    return response;
}

TEST(LoadServerResponse, ReadsTheKnownItemsOfAResponseBody) {
    const auto response = parsed("Content-Length: 0\r\n\r\nCR=ABCD" + FS + "Status=Success" + FS +
                                 "KVRN_DEV_ID=4711" + FS + "MD5Sum=0123456789ABCDEF0123456789ABCDEF" + FS +
                                 "CompressedLen=100" + FS + "CompressionMethod=None" + FS + "Version=1.2" + FS +
                                 "AddInfoFileName=APP.INF" + FS + "Personality=x" + FS);
    EXPECT_EQ(response.challengeAnswer, "ABCD");
    EXPECT_EQ(response.status, "Success");
    EXPECT_EQ(response.loadIdentifier, "4711");
    EXPECT_EQ(response.fileDigest, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(response.fileLength, "100");
    EXPECT_EQ(response.compressionMethod, "None");
    EXPECT_EQ(response.version, "1.2");
    EXPECT_EQ(response.infoFileName, "APP.INF");
    EXPECT_TRUE(response.errorText.empty());
}

TEST(LoadServerResponse, ItemEdgeCases) {
    // No trailing FS: the last item still counts.
    EXPECT_EQ(parsed("H: 1\n\nStatus=Error" + FS + "Error=Unknown model").errorText, "Unknown model");
    // Only the first "=" splits.
    EXPECT_EQ(parsed("H: 1\n\nError=a=b" + FS).errorText, "a=b");
    // FileLen wins over CompressedLen, before or after it.
    EXPECT_EQ(parsed("H: 1\n\nFileLen=7" + FS + "CompressedLen=5" + FS).fileLength, "7");
    EXPECT_EQ(parsed("H: 1\n\nCompressedLen=5" + FS + "FileLen=7" + FS).fileLength, "7");
    // The last of a repeated key; pieces without "="; keys with exact case.
    const auto response = parsed("H: 1\n\nStatus=first" + FS + "junk" + FS + FS + "Status=last" + FS + "status=no" +
                                 FS + "cr=lower");
    EXPECT_EQ(response.status, "last");
    EXPECT_TRUE(response.challengeAnswer.empty());
}

TEST(LoadServerResponse, HeaderEdgeCases) {
    LoadServerResponse response;
    ASSERT_TRUE(response.parseHeaders("Content-Length: 3\r\nBlockNo: 12\r\n\r\n\0\r\n"s));
    EXPECT_EQ(response.blockNumber, "12");
    EXPECT_EQ(response.rawBody, "\0\r\n"s) << "the body is kept byte for byte, CR and zero bytes included";

    ASSERT_TRUE(response.parseHeaders("blockno: 3\r\n\r\nxyz"));
    EXPECT_TRUE(response.blockNumber.empty()) << "the header name is matched with its exact case";

    // Without a blank line every line is a header and the body is empty.
    ASSERT_TRUE(response.parseHeaders("BlockNo: 4\nContent-Length: 2"));
    EXPECT_EQ(response.blockNumber, "4");
    EXPECT_TRUE(response.rawBody.empty());

    // A message that begins with the blank line has no header and fails, body or not.
    EXPECT_FALSE(response.parseHeaders("\r\nCR=AB" + FS));
    EXPECT_FALSE(response.parseHeaders("\nbody"));
    EXPECT_FALSE(response.parseHeaders(""));
}

TEST(LoadServerResponse, ParsingResetsEveryField) {
    LoadServerResponse response;
    ASSERT_TRUE(response.parseHeaders("BlockNo: 9\n\nStatus=Success" + FS));
    response.parseItems();
    ASSERT_TRUE(response.parseHeaders("X: 1\n\nother"));
    EXPECT_TRUE(response.blockNumber.empty());
    EXPECT_TRUE(response.status.empty());
    EXPECT_EQ(response.rawBody, "other");
}

TEST(LoadServerMessage, CompletenessTest) {
    const struct {
        std::string received;
        bool complete;
        const char* why;
    } cases[] = {
        {"Content-Length: 5\r\n\r\nabcde", true, "exactly the announced length"},
        {"Content-Length: 5\r\n\r\nabcd", false, "one byte short"},
        {"Content-Length: 5\r\n\r\nabcdef", false, "one byte over is not the announced length"},
        {"content-length: 12\n\n123456789012", true, "the name in any case"},
        {"CONTENT-LENGTH: 2\n\nab", true, "upper case"},
        {"Content-Length:12\r\n\r\nab", true, "no space: read from the second digit on, as 2"},
        {"Content-Length:12\r\n\r\n123456789012", false, "... so twelve bytes are too many"},
        {"X-Info: 1\r\n\r\n", true, "no Content-Length: complete at the blank line"},
        {"X-Info: 1\r\n\r\nanything", true, "no Content-Length: the body does not matter"},
        {"Content-Length: 0\r\n\r\n", true, "length 0"},
        {"Content-Length: 3\r\nX: 1\r\n", false, "no blank line yet"},
        {"Content-Length: 3\r\n\r", false, "the blank line has not ended"},
        {"\r\n", true, "a bare blank line"},
        {"Content-Length: 2\n\nab", true, "LF-only line ends"},
        {"Content-Length: 9\r\nContent-Length: 2\r\n\r\nab", true, "the last Content-Length counts"},
        {"Content-Length: -1\r\n\r\n", false, "a negative length is never met"},
        {"Content-Length: 2\r\n\r\n\r\n", true, "body bytes after the blank line are counted, CR LF included"},
        {"Content-Length: 99999999999999999999999\r\n\r\nab", false, "an absurd length"},
        {"Content-Length:\r\n\r\n", true, "a header without a value announces 0"},
        {"", false, "nothing"},
    };
    for (const auto& entry : cases)
        EXPECT_EQ(isCompleteMessage(entry.received), entry.complete) << entry.why;
}

}  // namespace
}  // namespace korvane
