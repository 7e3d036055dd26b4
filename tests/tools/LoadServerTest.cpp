#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <set>
#include <thread>

#include "tests/tools/LoadServerHarness.h"

namespace korvane::test {
namespace {

// Runs one PP_LOAD to its closing status; the load identifier, or empty.
std::string registerLoad(uint16_t port, const std::string& model = ServerProcess::kModel) {
    RawTlsClient client(port);
    if (!client.connect()) return {};
    const Exchange done = exchange(client, "PP_LOAD", loadItems(model));
    if (!done.response || done.item("Status") != "Success" ||
        done.item("CR") != answerFor(kSecret, done.clientChallenge))
        return {};
    client.send(statusMessage(-1, -1, "Success", "LOAD SUCCESSFUL"));
    return done.item("KVRN_DEV_ID");
}

TEST(LoadServer, SendsAnUpperCaseChallengeAndAnswersTheClientsChallenge) {
    ServerProcess server;
    for (int version : {TLS1_VERSION, TLS1_1_VERSION, TLS1_2_VERSION}) {
        RawTlsClient client(server.port(), 10000, version);
        EXPECT_TRUE(client.connect()) << std::hex << version;
    }
    RawTlsClient client(server.port());
    ASSERT_TRUE(client.connect());
    const Exchange done = exchange(client, "PP_LOAD", loadItems(ServerProcess::kModel));
    ASSERT_TRUE(done.response);
    EXPECT_EQ(done.challenge.size(), 32u);
    EXPECT_EQ(done.challenge.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    // The response is framed exactly as a request is: one Content-Length line, the blank line, the items.
    EXPECT_EQ(done.response->headerLines, std::vector<std::string>{"Content-Length: " +
                                                                   std::to_string(done.response->body.size())});
    EXPECT_EQ(done.response->body.rfind("CR=" + answerFor(kSecret, done.clientChallenge) + kFs + "Status=Success" + kFs,
                                        0),
              0u);
    EXPECT_FALSE(done.item("KVRN_DEV_ID").empty());
}

TEST(LoadServer, RefusesAClientWithTheWrongSecretAndRecordsNoLoad) {
    ServerProcess server;
    RawTlsClient client(server.port());
    ASSERT_TRUE(client.connect());
    const Exchange done = exchange(client, "PP_LOAD", loadItems("iPP350"), "WRONGSECRET00000000000000000000AA");
    ASSERT_TRUE(done.response);
    EXPECT_EQ(done.item("Status"), "Error");
    EXPECT_FALSE(done.item("Error").empty());
    EXPECT_EQ(done.items.count("KVRN_DEV_ID"), 0u);
    // The server still proves itself with its own key.
    EXPECT_EQ(done.item("CR"), answerFor(kSecret, done.clientChallenge));
    client.send(statusMessage(-1, -1, "Error", done.item("Error")));
    client.close();
    EXPECT_TRUE(server.show("--show-loads").rows.empty());
}

TEST(LoadServer, HandsOutDistinctLoadIdentifiersAndRecordsLoadsAndOutcomes) {
    ServerProcess server;
    const std::string first = registerLoad(server.port());
    const std::string second = registerLoad(server.port(), "iSC250");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);

    RawTlsClient reporter(server.port());
    ASSERT_TRUE(reporter.connect());
    Exchange report = exchange(reporter, "PP_LOAD_STATUS",
                               {"PP_KVRN_SN=0100-2200-33", "PP_KVRN_DEV_ID=" + first, "PP_OUTCOME=FAIL-LOAD RBA-SERIAL",
                                "PP_APP_VER=11.21|10.90", "PP_CONFIG_VER=CFG6"});
    EXPECT_EQ(report.item("Status"), "Success");
    reporter.send(statusMessage(-1, -1, "Success", "LOAD SUCCESSFUL"));
    reporter.close();

    RawTlsClient stranger(server.port());
    ASSERT_TRUE(stranger.connect());
    report = exchange(stranger, "PP_LOAD_STATUS", {"PP_KVRN_SN=1", "PP_KVRN_DEV_ID=999999", "PP_OUTCOME=LOADED"});
    EXPECT_EQ(report.item("Status"), "Error");
    stranger.close();

    const Table loads = server.show("--show-loads");
    ASSERT_EQ(loads.rows.size(), 2u);
    EXPECT_EQ(loads.at(0, "load_id"), first);
    EXPECT_EQ(loads.at(0, "installation_serial"), "0100-2200-33");
    EXPECT_EQ(loads.at(0, "model"), ServerProcess::kModel);
    EXPECT_EQ(loads.at(0, "app_version"), "11.20");
    EXPECT_EQ(loads.at(0, "previous_app_version"), "10.90");
    EXPECT_EQ(loads.at(0, "config_version"), "CFG5");
    EXPECT_EQ(loads.at(0, "oem_id"), "OEM9");
    EXPECT_NE(loads.at(0, "requested_at"), "");
    EXPECT_EQ(loads.at(0, "outcome"), "FAIL-LOAD RBA-SERIAL");
    EXPECT_EQ(loads.at(0, "reported_app_version"), "11.21");
    EXPECT_EQ(loads.at(0, "reported_config_version"), "CFG6");
    EXPECT_NE(loads.at(0, "reported_at"), "");
    EXPECT_EQ(loads.at(1, "model"), "iSC250");
    EXPECT_EQ(loads.at(1, "outcome"), "");

    const Table operations = server.waitForOperations(4);
    const int load = operations.find("subject", std::string(ServerProcess::kModel) + " -> load " + first);
    ASSERT_GE(load, 0);
    EXPECT_EQ(operations.at(load, "closing_status"), "Success");
    EXPECT_EQ(operations.at(load, "closing_text"), "LOAD SUCCESSFUL");
    const int stray = operations.find("subject", "load 999999: LOADED");
    ASSERT_GE(stray, 0);
    EXPECT_EQ(operations.at(stray, "response_status"), "Error");
    EXPECT_EQ(operations.at(stray, "closing_status"), "none");  // it left without one
}

// Asks for blocks as the loader does, with one re-request; returns the file.
std::string fetchWithReRequest(RawTlsClient& client, const Exchange& done) {
    const long length = std::stol(done.items.at("FileLen"));
    std::string file;
    long next = 1, lastGood = 0;
    bool askedAgain = false;
    client.send(statusMessage(0, 1, "Success", "OK_TO_CONTINUE"));
    while (static_cast<long>(file.size()) < length) {
        const auto block = client.readMessage();
        if (!block) return "(block missing)";
        if (block->header("BlockNo") != std::to_string(next)) return "(block " + block->header("BlockNo") + ")";
        if (next == 2 && !askedAgain) {  // as if block 2 had come with the wrong number
            askedAgain = true;
            client.send(statusMessage(lastGood, next, "Success", "OK_TO_CONTINUE"));
            continue;
        }
        file += block->body;
        lastGood = next++;
        if (static_cast<long>(file.size()) < length)
            client.send(statusMessage(lastGood, next, "Success", "OK_TO_CONTINUE"));
    }
    client.send(statusMessage(-1, -1, "Success", "LOAD SUCCESSFUL"));
    return file;
}

TEST(LoadServer, ServesNamedFilesAndPackagesInBlocksAndResendsARequestedBlock) {
    ServerProcess server({"--block-size", "4096"});
    struct Case {
        const char* request;
        std::vector<std::string> items;
        std::string bytes;
        std::string version;
        const char* infoFileName;  // null: not in the response
    } cases[] = {
        {"PP_GET_FILE", {std::string("PP_FILENAME=") + ServerProcess::kFileName}, server.fileBytes(),
         ServerProcess::kFileVersion, nullptr},
        {"PP_APP", {"PP_KVRN_SN=0100-2200-33", std::string("PP_MODEL=") + ServerProcess::kModel}, server.packageBytes(),
         ServerProcess::kModelVersion, ServerProcess::kInfoFileName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        const Exchange done = exchange(client, c.request, c.items);
        ASSERT_TRUE(done.response);
        EXPECT_EQ(done.items.at("Status"), "Success");
        EXPECT_EQ(done.items.at("MD5Sum"), md5Hex(c.bytes));
        EXPECT_EQ(done.items.at("FileLen"), std::to_string(c.bytes.size()));
        EXPECT_EQ(done.items.at("CompressedLen"), std::to_string(c.bytes.size()));
        EXPECT_NE(done.items.at("CompressionMethod"), "Zlib");
        EXPECT_EQ(done.items.at("Version"), c.version);
        EXPECT_EQ(done.items.count("AddInfoFileName") ? done.items.at("AddInfoFileName") : "(none)",
                  c.infoFileName != nullptr ? c.infoFileName : "(none)");
        EXPECT_EQ(md5Hex(fetchWithReRequest(client, done)), md5Hex(c.bytes));
    }
    RawTlsClient unknown(server.port());
    ASSERT_TRUE(unknown.connect());
    EXPECT_EQ(exchange(unknown, "PP_GET_FILE", {"PP_FILENAME=../packages.ini"}).item("Status"), "Error");
    unknown.close();

    const Table operations = server.waitForOperations(3);
    const int fetch = operations.find("subject", ServerProcess::kFileName);
    ASSERT_GE(fetch, 0);
    // 10000 bytes: blocks 1, 2, 2 again, 3.
    EXPECT_EQ(operations.at(fetch, "blocks_sent"), "4");
    EXPECT_EQ(operations.at(fetch, "blocks_resent"), "1");
    EXPECT_EQ(operations.at(fetch, "closing_status"), "Success");
}

TEST(LoadServer, SurvivesBadClientsAndKeepsServing) {
    ServerProcess server;
    {   // open and close at once, with and without TLS
        RawTlsClient tcpOnly(server.port());
        ASSERT_TRUE(tcpOnly.connectTcp());
        RawTlsClient tlsOnly(server.port());
        ASSERT_TRUE(tlsOnly.connect());
    }
    {   // not TLS at all
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connectTcp());
        client.sendTcp(std::string("GET / HTTP/1.0\r\n\r\n") + std::string(3000, '\xFF'));
    }
    {   // TLS first, then bytes that are no TLS record
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        client.sendTcp(std::string(5000, '\x17'));
    }
    {   // garbage inside TLS, framed as a message: refused with an Error status
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        ASSERT_TRUE(client.readMessage());
        client.send(std::string("\x01\x02garbage\x1C=\x1C\x00\xFF", 14) + "\r\n\r\n");
        const auto answer = client.readMessage();
        ASSERT_TRUE(answer);
        EXPECT_EQ(itemsOf(answer->body)["Status"], "Error");
    }
    {   // a bad length, and garbage without an end
        RawTlsClient badLength(server.port());
        ASSERT_TRUE(badLength.connect());
        ASSERT_TRUE(badLength.readMessage());
        badLength.send("Content-Length: -5\r\n\r\n");
        const auto answer = badLength.readMessage();
        ASSERT_TRUE(answer);
        EXPECT_EQ(itemsOf(answer->body)["Status"], "Error");
        RawTlsClient endless(server.port());
        ASSERT_TRUE(endless.connect());
        endless.send(std::string(100000, 'x'));
    }
    {   // a request of 10 MB
        RawTlsClient client(server.port());
        ASSERT_TRUE(client.connect());
        ASSERT_TRUE(client.readMessage());
        const std::string body(10 * 1024 * 1024, 'A');
        ASSERT_TRUE(client.send("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
        const auto answer = client.readMessage();
        ASSERT_TRUE(answer);
        EXPECT_EQ(itemsOf(answer->body)["Status"], "Error");
        EXPECT_EQ(itemsOf(answer->body)["Error"], "Request Too Large");
    }
    {   // 50 at once, each to its end
        std::vector<std::string> ids(50);
        std::vector<std::thread> clients;
        for (std::size_t i = 0; i < ids.size(); ++i)
            clients.emplace_back([&, i] { ids[i] = registerLoad(server.port()); });
        for (std::thread& client : clients) client.join();
        EXPECT_EQ(std::count(ids.begin(), ids.end(), std::string()), 0);
        EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
    }
    EXPECT_FALSE(registerLoad(server.port()).empty());
    // No crash on the way, and a clean end (a leak would fail the sanitizer build's exit status).
    EXPECT_EQ(server.stop(), 0) << server.process().standardError();
}

TEST(LoadServer, EndsCleanlyOnSigintWithAClientConnected) {
    ServerProcess server;
    RawTlsClient idle(server.port());
    ASSERT_TRUE(idle.connect());
    ASSERT_TRUE(idle.readMessage());
    server.process().signal(SIGINT);
    EXPECT_EQ(server.process().waitForExit(10000), 0);
}

TEST(LoadServer, RefusesBadCommandLinesWithStatus2) {
    const std::vector<std::vector<std::string>> lines = {
        {"--fault", "no-such-fault"}, {"--port", "70000"}, {"--packages", "/tmp"}, {"--fault", "out-of-sequence"}};
    for (const auto& line : lines) {
        ChildProcess process(programPath(), line);
        EXPECT_EQ(process.waitForExit(10000), 2) << line[0] << " " << line[1];
    }
}

}  // namespace
}  // namespace korvane::test
