#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <functional>

#include "tests/tools/LoadServerHarness.h"

namespace korvane::test {
namespace {

// What a correct request of this connection carries.
struct Wire {
    std::string challenge, cc, cr;
    std::vector<std::string> items(const std::string& request, const std::vector<std::string>& rest) const {
        std::vector<std::string> all = {"CC=" + cc, "CR=" + cr, "REQ=" + request};
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    }
};

std::string freshChallenge() {
    unsigned char random[16];
    RAND_bytes(random, sizeof random);
    return hexUpper(std::string_view(reinterpret_cast<char*>(random), sizeof random));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("no \"" + from + "\" in the message");
    return text.replace(at, from.size(), to);
}

std::string loadRequest(const Wire& w) { return requestMessage(w.items("PP_LOAD", loadItems(ServerProcess::kModel))); }

std::string appRequest(const Wire& w) {
    return requestMessage(w.items("PP_APP", {"PP_KVRN_SN=0100-2200-33", std::string("PP_MODEL=") + ServerProcess::kModel}));
}

std::string fileRequest(const Wire& w) {
    return requestMessage(w.items("PP_GET_FILE", {std::string("PP_FILENAME=") + ServerProcess::kFileName}));
}

std::string bodyOf(const std::string& message) { return message.substr(message.find("\r\n\r\n") + 4); }

std::string withBody(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }

const std::string kSuccessClose = statusMessage(-1, -1, "Success", "LOAD SUCCESSFUL");

// Runs a connection with a scripted client: the request from `build`, then
// the closing status a correct client owes for the response. Returns the
// violations the server recorded for it.
class ScriptedClient {
public:
    explicit ScriptedClient(ServerProcess& server) : server_(server) {}

    std::string run(const std::function<std::string(const Wire&)>& build,
                    const std::function<void(RawTlsClient&, const std::map<std::string, std::string>&)>& after = {}) {
        RawTlsClient client(server_.port());
        if (!client.connect()) return "(no connection)";
        const auto challenge = client.readMessage();
        if (!challenge) return "(no challenge)";
        Wire wire{challenge->body, freshChallenge(), answerFor(kSecret, challenge->body)};
        client.send(build(wire));
        const auto response = client.readMessage();
        if (!response) return "(no response)";
        response_ = itemsOf(response->body);
        if (after) after(client, response_);
        else closeAsOwed(client);
        client.close();
        const Table operations = server_.waitForOperations(++operations_);
        if (operations.rows.size() != operations_) return "(not recorded)";
        return operations.at(operations_ - 1, "violations");
    }
    const std::map<std::string, std::string>& response() const { return response_; }

    void closeAsOwed(RawTlsClient& client) const {
        const auto status = response_.find("Status");
        if (status != response_.end() && status->second == "Success") client.send(kSuccessClose);
        else client.send(statusMessage(-1, -1, "Error", "refused"));
    }

private:
    ServerProcess& server_;
    std::size_t operations_ = 0;
    std::map<std::string, std::string> response_;
};

TEST(LoadServerViolations, ACorrectClientLeavesNoViolationForAnyRequestKind) {
    ServerProcess server({"--block-size", "4096"});
    ScriptedClient script(server);
    EXPECT_EQ(script.run(loadRequest), "");
    const std::string loadId = script.response().at("KVRN_DEV_ID");
    EXPECT_EQ(script.run([&](const Wire& w) {
        return requestMessage(w.items("PP_LOAD_STATUS", {"PP_KVRN_SN=0100-2200-33", "PP_KVRN_DEV_ID=" + loadId,
                                                         "PP_OUTCOME=LOADED", "PP_APP_VER=11.21|10.90",
                                                         "PP_CONFIG_VER=CFG6"}));
    }),
              "");
    const auto download = [](RawTlsClient& client, const std::map<std::string, std::string>& items) {
        EXPECT_TRUE(downloadAll(client, std::stoul(items.at("FileLen"))));
    };
    EXPECT_EQ(script.run(appRequest, download), "");
    EXPECT_EQ(script.run(fileRequest, download), "");
    // A refused request closed with an Error status is no violation either.
    EXPECT_EQ(script.run([](const Wire& w) {
        return requestMessage(w.items("PP_GET_FILE", {"PP_FILENAME=NOSUCH.FILE"}));
    }),
              "");
}

TEST(LoadServerViolations, EachDeviationOfARequestIsRecorded) {
    ServerProcess server;
    const std::string repeatedCc = freshChallenge();
    const struct {
        const char* what;
        std::function<std::string(const Wire&)> build;
        const char* expected;  // a part of the recorded violations
    } cases[] = {
        {"LF alone", [](const Wire& w) { return replaced(loadRequest(w), "\r\n\r\n", "\n\n"); }, "ends with LF alone"},
        {"lower case header",
         [](const Wire& w) { return replaced(loadRequest(w), "Content-Length", "content-length"); },
         "is not written \"Content-Length: N\""},
        {"no blank after the colon",
         [](const Wire& w) { return replaced(loadRequest(w), "Content-Length: ", "Content-Length:"); },
         "is not written \"Content-Length: N\""},
        {"a leading zero", [](const Wire& w) { return replaced(loadRequest(w), "Content-Length: ", "Content-Length: 0"); },
         "plain decimal"},
        {"another header",
         [](const Wire& w) { return replaced(loadRequest(w), "\r\n\r\n", "\r\nHost: korvane\r\n\r\n"); },
         "\"Host: korvane\" is not part of a request"},
        {"a short Content-Length",
         [](const Wire& w) {
             const std::string body = bodyOf(loadRequest(w));
             return "Content-Length: " + std::to_string(body.size() - 5) + "\r\n\r\n" + body;
         },
         "5 bytes follow a message of Content-Length"},
        {"no trailing FS",
         [](const Wire& w) {
             std::string body = bodyOf(loadRequest(w));
             body.pop_back();
             return withBody(body);
         },
         "the last item is not followed by FS"},
        {"two FS in a row",
         [](const Wire& w) {
             const std::string one = std::string(1, kFs) + "PP_CONFIG_VER", two = std::string(1, kFs) + one;
             return withBody(replaced(bodyOf(loadRequest(w)), one, two));
         },
         "an empty item"},
        {"items out of order",
         [](const Wire& w) {
             return requestMessage(w.items("PP_APP", {std::string("PP_MODEL=") + ServerProcess::kModel,
                                                      "PP_KVRN_SN=0100-2200-33"}));
         },
         "items in the order CC,CR,REQ,PP_MODEL,PP_KVRN_SN, not CC,CR,REQ,PP_KVRN_SN,PP_MODEL"},
        {"the keyword not third",
         [](const Wire& w) {
             return requestMessage({"CC=" + w.cc, "REQ=PP_LOAD", "CR=" + w.cr, "PP_APP_VER=1|2", "PP_CONFIG_VER=C",
                                    "PP_KVRN_SN=1-2", "PP_MODEL=M", "PP_OEM_ID=O"});
         },
         "items in the order CC,REQ,CR,"},
        {"an item missing",
         [](const Wire& w) {
             return requestMessage(
                 w.items("PP_LOAD", {"PP_APP_VER=1|2", "PP_CONFIG_VER=C", "PP_KVRN_SN=1-2", "PP_MODEL=M"}));
         },
         "item PP_OEM_ID missing"},
        {"an extra item",
         [](const Wire& w) {
             return requestMessage(w.items("PP_GET_FILE", {std::string("PP_FILENAME=") + ServerProcess::kFileName,
                                                           "PP_MODEL=M"}));
         },
         "unexpected item \"PP_MODEL\""},
        {"an item twice",
         [](const Wire& w) {
             return requestMessage(w.items("PP_APP", {"PP_KVRN_SN=1", "PP_KVRN_SN=1", "PP_MODEL=M"}));
         },
         "item PP_KVRN_SN sent 2 times"},
        {"an item without =",
         [](const Wire& w) { return requestMessage(w.items("PP_APP", {"PP_KVRN_SN=1", "PP_MODEL=M", "EXTRA"})); },
         "item \"EXTRA\" has no \"=\""},
        {"no bar in PP_APP_VER",
         [](const Wire& w) {
             return requestMessage(w.items(
                 "PP_LOAD", {"PP_APP_VER=11.20", "PP_CONFIG_VER=C", "PP_KVRN_SN=1-2", "PP_MODEL=M", "PP_OEM_ID=O"}));
         },
         "PP_APP_VER \"11.20\" is not VERSION|SECOND-IDENTIFIER"},
        {"CC in lower case",
         [](const Wire& w) {
             std::string cc = w.cc;
             for (char& c : cc) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             Wire changed = w;
             changed.cc = cc + (cc == w.cc ? "a" : "");
             return loadRequest(changed);
         },
         "is not 32 upper-case hexadecimal digits"},
        {"CC too short",
         [](const Wire& w) {
             Wire changed = w;
             changed.cc.resize(30);
             return loadRequest(changed);
         },
         "is not 32 upper-case hexadecimal digits"},
        {"CC first sent", [&](const Wire& w) { Wire changed = w; changed.cc = repeatedCc; return loadRequest(changed); },
         "(none)"},
        {"CC sent again", [&](const Wire& w) { Wire changed = w; changed.cc = repeatedCc; return loadRequest(changed); },
         "was sent before in this run"},
        {"CR in lower case",
         [](const Wire& w) {
             Wire changed = w;
             for (char& c : changed.cr) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             if (changed.cr == w.cr) changed.cr[0] = 'a';
             return loadRequest(changed);
         },
         "is not upper-case hexadecimal"},
        {"CR wrong",
         [](const Wire& w) {
             Wire changed = w;
             changed.cr[0] = changed.cr[0] == '0' ? '1' : '0';
             return loadRequest(changed);
         },
         "does not answer the challenge"},
        {"an unknown keyword", [](const Wire& w) { return requestMessage(w.items("PP_NOTHING", {})); },
         "REQ=\"PP_NOTHING\" is unknown"},
        {"no keyword", [](const Wire& w) { return requestMessage({"CC=" + w.cc, "CR=" + w.cr}); }, "item REQ missing"},
    };
    ScriptedClient script(server);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string violations = script.run(c.build);
        if (c.expected == std::string("(none)")) EXPECT_EQ(violations, "");
        else EXPECT_NE(violations.find(c.expected), std::string::npos) << violations;
    }
    // Each deviation was served all the same: the loads are there.
    EXPECT_GE(server.show("--show-loads").rows.size(), 10u);
}

TEST(LoadServerViolations, EachDeviationOfAStatusMessageOrTheCloseIsRecorded) {
    ServerProcess server({"--block-size", "4096"});
    using Script = std::function<void(RawTlsClient&, const std::map<std::string, std::string>&)>;
    const auto send = [](std::string message) {
        return Script([message](RawTlsClient& client, const std::map<std::string, std::string>&) { client.send(message); });
    };
    // Blocks 1 and 2 of the 10000-byte file (4096 each), acknowledged as owed.
    const auto twoBlocks = [](RawTlsClient& client) {
        client.send(statusMessage(0, 1, "Success", "OK_TO_CONTINUE"));
        client.readMessage();
        client.send(statusMessage(1, 2, "Success", "OK_TO_CONTINUE"));
        client.readMessage();
    };
    const struct {
        const char* what;
        std::function<std::string(const Wire&)> build;
        Script after;
        const char* expected;
    } cases[] = {
        {"LF alone", loadRequest, send("Content-Length: 0\nLast-Good-Block: -1\nNext-Block-Expected: -1\nStatus: "
                                       "Success\nStatus-Text: LOAD SUCCESSFUL\n\n"),
         "ends with LF alone"},
        {"lines out of order", loadRequest,
         send("Content-Length: 0\r\nLast-Good-Block: -1\r\nStatus: Success\r\nNext-Block-Expected: -1\r\n"
              "Status-Text: LOAD SUCCESSFUL\r\n\r\n"),
         "status header lines \"Content-Length,Last-Good-Block,Status,Next-Block-Expected,Status-Text\""},
        {"a line missing", loadRequest,
         send("Content-Length: 0\r\nLast-Good-Block: -1\r\nNext-Block-Expected: -1\r\nStatus: Success\r\n\r\n"),
         "status header lines"},
        {"lower-case name", loadRequest, send(replaced(kSuccessClose, "Status-Text", "status-text")),
         "is not written \"Status-Text: ...\""},
        {"a body", loadRequest, send(replaced(kSuccessClose, "Content-Length: 0", "Content-Length: 3") + "abc"),
         "a status message with a body of 3 bytes"},
        {"a counter with a plus", loadRequest, send(replaced(kSuccessClose, "Last-Good-Block: -1", "Last-Good-Block: +1")),
         "is not a signed decimal"},
        {"neither Success nor Error", loadRequest, send(statusMessage(-1, -1, "success", "LOAD SUCCESSFUL")),
         "status \"success\" is neither"},
        {"closing counters", loadRequest, send(statusMessage(0, 0, "Success", "LOAD SUCCESSFUL")),
         "closing status with counters 0/0, not -1/-1"},
        {"closing text", loadRequest, send(statusMessage(-1, -1, "Success", "Load Successful")),
         "closing Success with Status-Text \"Load Successful\""},
        {"OK_TO_CONTINUE without a download", loadRequest, send(statusMessage(0, 1, "Success", "OK_TO_CONTINUE")),
         "OK_TO_CONTINUE where no download is under way"},
        {"the download opened with 1/1", fileRequest,
         [](RawTlsClient& client, const std::map<std::string, std::string>&) {
             client.send(statusMessage(1, 1, "Success", "OK_TO_CONTINUE"));
             client.readMessage();
             client.send(statusMessage(-1, -1, "Error", "stop"));
         },
         "OK_TO_CONTINUE 1/1 where 0/1 is due"},
        {"an acknowledgement that skips a block", fileRequest,
         [](RawTlsClient& client, const std::map<std::string, std::string>&) {
             client.send(statusMessage(0, 1, "Success", "OK_TO_CONTINUE"));
             client.readMessage();
             client.send(statusMessage(1, 3, "Success", "OK_TO_CONTINUE"));
             client.readMessage();
             client.send(statusMessage(-1, -1, "Error", "stop"));
         },
         "OK_TO_CONTINUE 1/3 where 1/2 is due"},
        {"the last block acknowledged", fileRequest,
         [&](RawTlsClient& client, const std::map<std::string, std::string>&) {
             twoBlocks(client);
             client.send(statusMessage(2, 3, "Success", "OK_TO_CONTINUE"));
             client.readMessage();
             client.send(statusMessage(3, 4, "Success", "OK_TO_CONTINUE"));
             client.send(kSuccessClose);
         },
         "OK_TO_CONTINUE 3/4 after the last block"},
        {"success before the whole file", fileRequest,
         [&](RawTlsClient& client, const std::map<std::string, std::string>&) {
             twoBlocks(client);
             client.send(kSuccessClose);
         },
         "closing Success after 8192 of 10000 bytes"},
        {"no closing status", loadRequest, [](RawTlsClient&, const std::map<std::string, std::string>&) {},
         "the client left without a closing status"},
        {"no close_notify", loadRequest,
         [](RawTlsClient& client, const std::map<std::string, std::string>&) {
             client.send(kSuccessClose);
             client.abandon();
         },
         "closed the connection without close_notify"},
        {"a message after the closing status", loadRequest,
         [](RawTlsClient& client, const std::map<std::string, std::string>&) {
             client.send(kSuccessClose);
             client.send(kSuccessClose);
         },
         "a message after the closing status"},
    };
    ScriptedClient script(server);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string violations = script.run(c.build, c.after);
        EXPECT_NE(violations.find(c.expected), std::string::npos) << violations;
    }
    // A refused fetch closed with Success.
    const std::string refused = script.run(
        [](const Wire& w) { return requestMessage(w.items("PP_GET_FILE", {"PP_FILENAME=NOSUCH.FILE"})); },
        send(kSuccessClose));
    EXPECT_NE(refused.find("closing Success after a refused request"), std::string::npos) << refused;
}

TEST(LoadServerViolations, RefuseViolationsAnswersADeviatingRequestWithAnError) {
    ServerProcess server({"--refuse-violations", "--trace"});
    ScriptedClient script(server);
    EXPECT_NE(script.run([](const Wire& w) { return replaced(loadRequest(w), "\r\n\r\n", "\n\n"); }), "");
    EXPECT_EQ(script.response().at("Status"), "Error");
    EXPECT_EQ(script.response().at("Error").rfind("Request Breaks the Wire Format: ", 0), 0u)
        << script.response().at("Error");
    EXPECT_EQ(script.response().count("KVRN_DEV_ID"), 0u);
    EXPECT_EQ(script.run(loadRequest), "");
    EXPECT_EQ(script.response().at("Status"), "Success");
    EXPECT_EQ(server.show("--show-loads").rows.size(), 1u);
    // --trace names each deviation as it happens.
    EXPECT_NE(server.process().standardError().find("violation: the blank line ends with LF alone"), std::string::npos)
        << server.process().standardError();
}

}  // namespace
}  // namespace korvane::test
