#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "tests/tools/LoadServerHarness.h"

namespace korvane::test {
namespace {

std::vector<std::string> faultArgs(const std::vector<std::string>& faults) {
    std::vector<std::string> args = {"--block-size", "4096", "--trace"};
    for (const std::string& fault : faults) {
        args.push_back("--fault");
        args.push_back(fault);
    }
    return args;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::vector<std::string> requestItems(const std::string& request) {
    if (request == "PP_LOAD") return loadItems("iPP350");
    if (request == "PP_APP") return {"PP_KVRN_SN=0100-2200-33", std::string("PP_MODEL=") + ServerProcess::kModel};
    return {std::string("PP_FILENAME=") + ServerProcess::kFileName};
}

constexpr char kAbsent[] = "(absent)";

struct ItemCase {
    std::vector<std::string> faults;
    const char* request;
    // Expected response items; "(absent)" for an item that must be missing.
    std::vector<std::pair<std::string, std::string>> expected;
};

TEST(LoadServerFaults, ChangeTheResponseItemsAsNamed) {
    const std::string length = std::to_string(10000);
    const std::string digest = md5Hex(ServerProcess::fileBytes());
    const ItemCase cases[] = {
        {{"status-error=Nope"}, "PP_LOAD", {{"Status", "Error"}, {"Error", "Nope"}, {"KVRN_DEV_ID", kAbsent}}},
        {{"status-no-error=Failed"}, "PP_LOAD", {{"Status", "Failed"}, {"Error", kAbsent}}},
        {{"no-load-id"}, "PP_LOAD", {{"Status", "Success"}, {"KVRN_DEV_ID", kAbsent}}},
        {{"no-md5"}, "PP_GET_FILE", {{"MD5Sum", kAbsent}, {"FileLen", length}}},
        {{"no-length"}, "PP_GET_FILE", {{"FileLen", kAbsent}, {"CompressedLen", kAbsent}, {"MD5Sum", digest}}},
        {{"zero-length"}, "PP_GET_FILE", {{"FileLen", kAbsent}, {"CompressedLen", "0"}}},
        {{"compressed-len-only"}, "PP_GET_FILE", {{"FileLen", kAbsent}, {"CompressedLen", length}}},
        {{"no-version"}, "PP_APP", {{"Version", kAbsent}, {"AddInfoFileName", ServerProcess::kInfoFileName}}},
        {{"zlib"}, "PP_GET_FILE", {{"CompressionMethod", "Zlib"}, {"MD5Sum", digest}}},
        {{"lowercase-md5"}, "PP_GET_FILE", {{"MD5Sum", lower(digest)}}},
        {{"status-error@PP_APP"}, "PP_GET_FILE", {{"Status", "Success"}}},
        {{"status-error@PP_APP"}, "PP_APP", {{"Status", "Error"}}},
    };
    for (const ItemCase& c : cases) {
        SCOPED_TRACE(c.faults[0] + " " + c.request);
        ServerProcess server(faultArgs(c.faults));
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        const Exchange done = exchange(client, c.request, requestItems(c.request));
        ASSERT_TRUE(done.response);
        EXPECT_EQ(done.items.at("CR"), answerFor(kSecret, done.clientChallenge));
        for (const auto& [key, value] : c.expected)
            EXPECT_EQ(done.items.count(key) != 0 ? done.items.at(key) : kAbsent, value) << key;
        // Whatever the response claims, a fetch that goes ahead gets the plain file.
        if (c.request == std::string("PP_GET_FILE") && done.items.at("Status") == "Success") {
            EXPECT_EQ(md5Hex(downloadAll(client, 10000).value_or("(failed)")), md5Hex(server.fileBytes()))
            << server.process().standardError();
        }
    }
}

TEST(LoadServerFaults, WrongAndLowerCaseAnswersAndDigests) {
    for (const char* fault : {"wrong-cr", "lowercase-cr", "wrong-md5"}) {
        SCOPED_TRACE(fault);
        ServerProcess server(faultArgs({fault}));
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        const Exchange done = exchange(client, "PP_GET_FILE", requestItems("PP_GET_FILE"));
        ASSERT_TRUE(done.response);
        const std::string right = answerFor(kSecret, done.clientChallenge);
        const std::string digest = md5Hex(server.fileBytes());
        const std::string cr = done.items.at("CR"), md5 = done.items.at("MD5Sum");
        if (fault == std::string("wrong-cr")) {
            EXPECT_NE(cr, right);
            EXPECT_NE(lower(cr), lower(right));
        } else if (fault == std::string("lowercase-cr")) {
            EXPECT_EQ(cr, lower(right));
        } else {
            EXPECT_EQ(cr, right);
            EXPECT_EQ(md5.size(), 32u);
            EXPECT_EQ(md5.find_first_not_of("0123456789ABCDEF"), std::string::npos);
            EXPECT_NE(md5, digest);
        }
    }
}

TEST(LoadServerFaults, OddAndLowerCaseChallengesAreCheckedByTheWireDecoding) {
    const std::string fixed = "0A1B2C3D4E5F60718293A4B5C6D7E8F9";
    {
        ServerProcess server({"--challenge", fixed, "--fault", "lowercase-challenge"});
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        const Exchange done = exchange(client, "PP_LOAD", loadItems("iPP350"));
        EXPECT_EQ(done.challenge, lower(fixed));
        // Lower-case digits count as zeros, so this answer is the one accepted...
        EXPECT_EQ(done.item("Status"), "Success");
        // ...and one from the proper decoding is not.
        RawTlsClient proper(server.port());
        ASSERT_TRUE(proper.connect());
        ASSERT_TRUE(proper.readMessage());
        proper.send(requestMessage({"CC=00", "CR=" + answerFor(kSecret, fixed), "REQ=PP_LOAD"}));
        const auto refused = proper.readMessage();
        ASSERT_TRUE(refused);
        EXPECT_EQ(itemsOf(refused->body)["Status"], "Error");
    }
    {
        ServerProcess server({"--challenge", fixed, "--fault", "odd-challenge"});
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        const Exchange done = exchange(client, "PP_LOAD", loadItems("iPP350"));  // sends "CR=" empty
        EXPECT_EQ(done.challenge, fixed.substr(0, 7));
        EXPECT_EQ(done.item("Status"), "Success");
    }
}

TEST(LoadServerFaults, OutOfSequenceBlocksForAsManyRequestsAsAsked) {
    const struct {
        const char* fault;
        std::vector<std::string> numbers;  // answers to repeated requests for block 2
    } cases[] = {{"out-of-sequence=2", {"3", "2"}}, {"out-of-sequence=2:5", {"3", "3", "3", "3", "3", "2"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ServerProcess server(faultArgs({c.fault}));
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        ASSERT_EQ(exchange(client, "PP_GET_FILE", requestItems("PP_GET_FILE")).item("Status"), "Success");
        client.send(statusMessage(0, 1, "Success", "OK_TO_CONTINUE"));
        ASSERT_EQ(client.readMessage()->header("BlockNo"), "1");
        std::vector<std::string> numbers;
        for (std::size_t i = 0; i < c.numbers.size(); ++i) {
            client.send(statusMessage(1, 2, "Success", "OK_TO_CONTINUE"));
            const auto block = client.readMessage();
            ASSERT_TRUE(block);
            numbers.push_back(block->header("BlockNo"));
        }
        EXPECT_EQ(numbers, c.numbers);
    }
}

TEST(LoadServerFaults, ConnectionEndsAsNamed) {
    {   // a drop is no TLS close
        ServerProcess server(faultArgs({"drop-after-block=2"}));
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        ASSERT_EQ(exchange(client, "PP_GET_FILE", requestItems("PP_GET_FILE")).item("Status"), "Success");
        client.send(statusMessage(0, 1, "Success", "OK_TO_CONTINUE"));
        ASSERT_TRUE(client.readMessage());
        client.send(statusMessage(1, 2, "Success", "OK_TO_CONTINUE"));
        ASSERT_TRUE(client.readMessage());
        EXPECT_FALSE(client.readMessage());
        EXPECT_EQ(client.lastEnd(), RawTlsClient::End::eof);
    }
    {
        ServerProcess server(faultArgs({"close-notify"}));
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        EXPECT_FALSE(exchange(client, "PP_LOAD", loadItems("iPP350")).response);
        EXPECT_EQ(client.lastEnd(), RawTlsClient::End::closeNotify);
    }
    for (const char* fault : {"stall-handshake", "stall-response"}) {
        SCOPED_TRACE(fault);
        ServerProcess server(faultArgs({fault}));
        RawTlsClient client(server.port(), 300);
        ASSERT_TRUE(client.connectTcp());
        if (fault == std::string("stall-handshake")) {
            EXPECT_FALSE(client.handshake());
        } else {
            ASSERT_TRUE(client.handshake());
            EXPECT_FALSE(exchange(client, "PP_LOAD", loadItems("iPP350")).response);
            EXPECT_EQ(client.lastEnd(), RawTlsClient::End::timeout);
        }
        client.close();
        EXPECT_EQ(server.stop(), 0);
    }
}

TEST(LoadServerFaults, ReshapedRecordsAndRenegotiationKeepTheDownloadIntact) {
    const struct {
        const char* fault;
        int handshakes;
        int minRecords;  // application records the client saw
    } cases[] = {{"renegotiate-after-block=1", 2, 1}, {"many-records=8", 1, 7}, {"split-records=200", 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ServerProcess server(faultArgs({c.fault}));
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        const Exchange done = exchange(client, "PP_GET_FILE", requestItems("PP_GET_FILE"));
        ASSERT_EQ(done.item("Status"), "Success");
        EXPECT_EQ(md5Hex(downloadAll(client, 10000).value_or("(failed)")), md5Hex(server.fileBytes()))
            << server.process().standardError();
        EXPECT_EQ(client.handshakes(), c.handshakes);
        EXPECT_GE(client.applicationRecords(), c.minRecords);
    }
}

}  // namespace
}  // namespace korvane::test
