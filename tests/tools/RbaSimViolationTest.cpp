// The RBA pad simulator's strictness: a scripted client that frames every
// message itself sends right and wrong frames, and each deviation must come
// back as one "violation: " line, counted in the closing summary.
#include "tests/tools/PadSimHarness.h"
#include "tests/tools/ScriptedEquinoxClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <regex>

namespace korvane {
namespace {

using namespace std::string_literals;
using test::ScriptedEquinoxClient;

constexpr char kAck = ScriptedEquinoxClient::kAck;
constexpr char kNak = ScriptedEquinoxClient::kNak;
constexpr char kFs = 0x1C;
constexpr char kGs = 0x1D;

// A "62." block: type, "8", the sequence as two digits, "0000", the OGZ flag,
// "1", the file name and FS on a first block, then the payload as given.
std::string block(char type, int sequence, char flag, const std::string& name, const std::string& payload) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", sequence);
    return "62."s + type + "8" + number + "0000" + flag + "1" + (name.empty() ? "" : name + kFs) + payload;
}

// The payload bytes as they go on the wire: below 20 as FF and the byte plus 20, FF as FF FF.
std::string escaped(const std::string& data) {
    std::string out;
    for (char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) out += "\xFF"s + static_cast<char>(byte + 0x20);
        else if (byte == 0xFF) out += "\xFF\xFF"s;
        else out += c;
    }
    return out;
}

std::string parameterList(const std::vector<std::string>& triplets) {
    std::string text = "60.";
    for (const std::string& triplet : triplets) {
        if (text.size() > 3) text += kFs;
        std::string part = triplet;
        for (char& c : part)
            if (c == '/') c = kGs;
        text += part;
    }
    return text;
}

const std::vector<std::string> kFixedList = {"9/1/0", "9/2/1",  "9/4/0",    "9/5/9",  "9/6/0",  "9/7/0", "9/8/0",
                                             "9/12/250", "9/13/0", "9/14/1000", "9/15/1", "9/16/0", "7/1/3"};

std::string regexEscaped(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

class RbaSimViolations : public ::testing::Test {
protected:
    void startWith(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--model", "iPP350", "--restart-time", "0", "--reboot-time", "0"});
        sim = std::make_unique<test::PadSimProcess>(std::move(args));
        ASSERT_TRUE(sim->ready()) << sim->output() << sim->process->standardError();
        ASSERT_TRUE(client.open(sim->devices.file("com1")));
    }
    std::string stopped() {
        sim->process->signal(SIGTERM);
        EXPECT_EQ(sim->process->waitForExit(10000), 0);
        return sim->output();
    }
    static int violationsIn(const std::string& log) {
        std::smatch match;
        if (!std::regex_search(log, match, std::regex("summary: .*, violations: ([0-9]+)\n"))) return -1;
        return std::stoi(match[1]);
    }
    // As the loader's exchange does it: the frame, its ACK, the reply, ACK for the reply.
    std::string exchange(const std::string& text) {
        if (client.send(text) != kAck) return "<no ack>";
        const std::optional<std::string> reply = client.readFrame(3000);
        if (!reply) return "<no reply>";
        client.write(std::string(1, kAck));
        return ScriptedEquinoxClient::textOf(*reply);
    }
    void sendAcked(const std::string& text) { EXPECT_EQ(client.send(text), kAck) << text.substr(0, 20); }

    std::unique_ptr<test::PadSimProcess> sim;
    ScriptedEquinoxClient client;
};

TEST_F(RbaSimViolations, ALoadAsTheLoaderSendsItHasNone) {
    startWith();
    EXPECT_EQ(exchange("07.").substr(0, 3), "07.");
    EXPECT_EQ(exchange("00.0000"), "00.0000");
    EXPECT_EQ(exchange("61.14"s + kGs + "05"), "61.214"s + kGs + "05" + kGs);
    EXPECT_EQ(exchange("60.14"s + kGs + "5" + kGs + "KORVANEIPP350"), "60.2");
    EXPECT_EQ(exchange(parameterList(kFixedList)), "60.2");
    sendAcked("24.MSG.K3Z"s + kFs + "TPROMPTLINE1,File load in progress. Please wait...");
    EXPECT_EQ(exchange("29.00000810").substr(0, 3), "29.");
    // 5000 bytes with 50 that need an escape: 5050 on the wire, two blocks, the first ending one over.
    std::string data(5000, 'd');
    for (int i = 0; i < 50; ++i) data[static_cast<std::size_t>(i) * 80 + 79] = '\n';
    const std::string wire = escaped(data);
    std::size_t cut = 0;
    while (cut < 4000) cut += wire[cut] == '\xFF' ? 2 : 1;
    sendAcked(block('1', 1, '1', "FORMS.K3Z", wire.substr(0, cut)));
    EXPECT_EQ(exchange(block('3', 2, '1', "", wire.substr(cut))), "62.0");
    EXPECT_EQ(exchange(block('0', 1, '0', "RBA.OGZ", escaped("small\xFF"s))), "62.0");
    sendAcked("97.");
    const std::string log = stopped();
    EXPECT_EQ(sim->files.read("FORMS.K3Z"), data);
    EXPECT_EQ(violationsIn(log), 0) << log;
}

TEST_F(RbaSimViolations, EachWrongFrameIsReportedAndCounted) {
    using Script = std::function<void(ScriptedEquinoxClient&)>;
    auto sending = [](std::string text) {
        return Script([text](ScriptedEquinoxClient& c) {
            if (c.send(text) != kAck) return;
            // Whatever the pad answers is acknowledged as the loader would.
            if (c.readFrame(300)) c.write(std::string(1, kAck));
        });
    };
    auto sendingAll = [&](std::vector<std::string> texts) {
        return Script([texts, sending](ScriptedEquinoxClient& c) {
            for (const std::string& text : texts) sending(text)(c);
        });
    };
    const std::string full(4000, 'f');
    const struct Case {
        const char* what;
        std::vector<std::string> args;
        Script script;
        std::vector<std::string> violations;
    } cases[] = {
        {"identify with more", {}, sending("07.1"), {"message \"07.1\" where \"07.\" is due"}},
        {"reset cut short", {}, sending("00.000"), {"message \"00.000\" where \"00.0000\" is due"}},
        {"key check of another form", {}, sending("29.0000081"), {"where \"29.00000810\" is due"}},
        {"reboot with more", {}, sending("97.0"), {"message \"97.0\" where \"97.\" is due"}},
        {"a prompt of no load", {}, sending("24.MSG.K3Z"s + kFs + "TPROMPTLINE1,Hello there"),
         {"is none of the load's prompts"}},
        {"a prompt without its FS", {}, sending("24.MSG.K3ZTPROMPTLINE1,File load in progress. Please wait..."),
         {"is none of the load's prompts"}},
        {"a parameter read without an index", {}, sending("61.14"), {"is not \"61.\" group GS index"}},
        {"a parameter write without a value", {}, sending("60.14"s + kGs + "5"),
         {"is not \"60.\" group GS index GS value"}},
        {"the fixed list out of order", {},
         sending(parameterList({"9/2/1", "9/1/0", "9/4/0", "9/5/9", "9/6/0", "9/7/0", "9/8/0", "9/12/250", "9/13/0",
                                "9/14/1000", "9/15/1", "9/16/0", "7/1/3"})),
         {"is not the fixed list in its order"}},
        {"the fixed list short of one", {},
         sending(parameterList(std::vector<std::string>(kFixedList.begin(), kFixedList.end() - 1))),
         {"is not the fixed list in its order"}},
        {"an unknown message", {}, sending("55.1"), {"message \"55.1\" is none the loader sends"}},
        {"an OGZ name flagged as another file", {}, sending(block('0', 1, '1', "APP.OGZ", "x")),
         {"APP.OGZ block 1: OGZ flag \"1\" for a file named APP.OGZ"}},
        {"another file flagged as OGZ", {}, sending(block('0', 1, '0', "APP.Ogz", "x")),
         {"APP.Ogz block 1: OGZ flag \"0\" for a file named APP.Ogz"}},
        {"a first block with sequence 2", {}, sending(block('0', 2, '1', "A.K3Z", "x")),
         {"A.K3Z block 1: sequence 2 where 1 is due"}},
        {"a block skipping a sequence number", {},
         sendingAll({block('1', 1, '1', "A.K3Z", full), block('3', 3, '1', "", "x")}),
         {"A.K3Z block 2: sequence 3 where 2 is due"}},
        {"a short block followed by more data", {},
         sendingAll({block('1', 1, '1', "A.K3Z", "abc"), block('3', 2, '1', "", "de")}),
         {"A.K3Z block 2: 2 payload bytes after a short block",
          "A.K3Z ended after 2 blocks where its 5 payload bytes make 1"}},
        {"a payload over the block size", {}, sending(block('0', 1, '1', "A.K3Z", full + "g")),
         {"A.K3Z block 1: 4001 payload bytes, over the block size of 4000",
          "A.K3Z ended after 1 blocks where its 4001 payload bytes make 2"}},
        {"one block too many", {}, sendingAll({block('1', 1, '1', "A.K3Z", full), block('3', 2, '1', "", "")}),
         {"A.K3Z ended after 2 blocks where its 4000 payload bytes make 1"}},
        {"a raw control byte", {}, sending(block('0', 1, '1', "A.K3Z", "a\x01z")),
         {"A.K3Z block 1: byte 01 sent raw, not escaped"}},
        {"an escape that stands for nothing", {}, sending(block('0', 1, '1', "A.K3Z", "a\xFF\x50z")),
         {"A.K3Z block 1: escape FF 50 stands for no byte"}},
        {"a middle block with no file under way", {}, sending(block('2', 1, '1', "", "x")),
         {"block of type 2 without a first block"}},
        {"a malformed block header", {}, sending("62.0701000011A.K3Z"s + kFs + "x"),
         {"is not \"62.\" type \"8\" sequence \"0000\" flag \"1\""}},
        {"a first block without its name", {}, sending("62.0801000011abc"),
         {"first block \"62.0801000011\" without a file name and FS"}},
        {"a bad check byte",
         {},
         [](ScriptedEquinoxClient& c) {
             std::string frame = ScriptedEquinoxClient::frame("07.");
             frame.back() = static_cast<char>(frame.back() ^ 1);
             c.write(frame);
             EXPECT_EQ(c.readByte(2000), kNak);
         },
         {"bad check byte on \"07.\": NAK"}},
        {"bytes outside a frame",
         {},
         [&](ScriptedEquinoxClient& c) {
             c.write("xy");
             sending("00.0000")(c);
         },
         {"2 bytes outside any frame: xy"}},
        {"an STX inside a frame", {}, sending("00.00\x02" "00"),
         {"an STX inside the frame", "where \"00.0000\" is due"}},
        {"a reply never acknowledged",
         {},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("00.0000"), kAck);
             EXPECT_TRUE(c.readFrame(2000).has_value());
             c.drain(3500);
         },
         {"reply \"00.0000\" not acknowledged within 3000 ms"}},
        {"a new frame while a reply is outstanding",
         {},
         [&](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("00.0000"), kAck);
             EXPECT_TRUE(c.readFrame(2000).has_value());
             sending("00.0000")(c);
         },
         {"a new frame while the reply \"00.0000\" awaited its acknowledgement"}},
        {"a frame before the last was acknowledged",
         {},
         [](ScriptedEquinoxClient& c) {
             c.write(ScriptedEquinoxClient::frame("00.0000") + ScriptedEquinoxClient::frame("00.0000"));
             c.drain(1500);
         },
         {"more bytes came before \"00.0000\" was acknowledged",
          "a new frame while the reply \"00.0000\" awaited its acknowledgement",
          "reply \"00.0000\" not acknowledged within 3000 ms"}},
        {"a good reply refused",
         {},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("00.0000"), kAck);
             EXPECT_TRUE(c.readFrame(2000).has_value());
             c.write(std::string(1, kNak));
             EXPECT_TRUE(c.readFrame(2000).has_value()) << "sent again";
             c.write(std::string(1, kAck));
         },
         {"reply \"00.0000\" refused (NAK) although its check byte was right"}},
        {"a bad reply acknowledged",
         {"--fault", "corrupt-reply=1@00"},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("00.0000"), kAck);
             const std::optional<std::string> frame = c.readFrame(2000);
             ASSERT_TRUE(frame.has_value());
             EXPECT_FALSE(ScriptedEquinoxClient::checks(*frame));
             c.write(std::string(1, kAck));
         },
         {"reply \"00.0000\" with a wrong check byte acknowledged (ACK)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startWith(c.args);
        c.script(client);
        const std::string log = stopped();
        for (const std::string& violation : c.violations)
            EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)violation: [^\n]*" + regexEscaped(violation))))
                << violation << "\n" << log;
        EXPECT_EQ(violationsIn(log), static_cast<int>(c.violations.size())) << log;
        client.close();
    }
}

}  // namespace
}  // namespace korvane
