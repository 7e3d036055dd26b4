#include "tests/tools/PadSimHarness.h"
#include "tests/tools/ScriptedEquinoxClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>

namespace korvane {
namespace {

using namespace std::string_literals;
using test::ScriptedEquinoxClient;

constexpr char kFs = ScriptedEquinoxClient::kFs;
constexpr char kAck = ScriptedEquinoxClient::kAck;
constexpr char kNak = ScriptedEquinoxClient::kNak;

const std::string kIdentityQuery = "F"s + kFs + "MVY";
std::string variableQuery(const std::string& name) { return "v"s + kFs + "GV" + kFs + "VN" + name; }

// Every byte value in turn, ETX and STX included, cut to `size`.
std::string everyByte(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 256);
    return bytes;
}

}  // namespace

namespace test {
namespace {

// A whole file in chunks of 65000, as the loader sends one; the reply after
// the last chunk ("" when none is read).
std::string sendFile(ScriptedEquinoxClient& client, const std::string& name, const std::string& data,
                     bool awaitReply = true) {
    for (size_t at = 0; at < data.size(); at += 65000) {
        const bool last = at + 65000 >= data.size();
        const std::string text = ScriptedEquinoxClient::chunk(last ? 'N' : 'Y', name, data.substr(at, 65000));
        if (client.send(text) != kAck) return "<no ack>";
    }
    return awaitReply ? ScriptedEquinoxClient::joined(client.readReply()) : "";
}

// A transfer's start as the loader makes it: "LALL", then the packing list; the pad's first request.
std::string startTransfer(ScriptedEquinoxClient& client, const std::string& names) {
    if (client.send("LALL") != kAck) return "<LALL not acknowledged>";
    return sendFile(client, "PACKINGLIST", names);
}

}  // namespace
}  // namespace test

namespace {

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// `text` as a regular expression that matches it literally.
std::string escaped(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

class EquinoxSimTest : public ::testing::Test {
protected:
    void startWith(std::vector<std::string> args, const std::string& model = "L5300-PCI2") {
        args.insert(args.begin(), {"--model", model});
        sim = std::make_unique<test::PadSimProcess>(std::move(args));
        ASSERT_TRUE(sim->ready()) << sim->output() << sim->process->standardError();
        ASSERT_TRUE(client.open(sim->devices.file("com1")));
    }

    // SIGTERM, then the whole log.
    std::string stopped() {
        sim->process->signal(SIGTERM);
        EXPECT_EQ(sim->process->waitForExit(10000), 0);
        return sim->output();
    }

    // The count of the summary line, -1 without one.
    static int violationsIn(const std::string& log) {
        std::smatch match;
        if (!std::regex_search(log, match, std::regex("summary: .*, violations: ([0-9]+)\n"))) return -1;
        return std::stoi(match[1]);
    }

    std::string sendFile(const std::string& name, const std::string& data, bool awaitReply = true) {
        return test::sendFile(client, name, data, awaitReply);
    }
    std::string packingList(const std::string& names) { return test::startTransfer(client, names); }

    std::unique_ptr<test::PadSimProcess> sim;
    ScriptedEquinoxClient client;
};

TEST_F(EquinoxSimTest, AnswersTheTypeIdentityAndKeyQueriesFromItsOptions) {
    const struct {
        std::string model;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> exchanges;  // query, reply text
    } cases[] = {
        {"L5300-PCI2",
         {},
         {{"T", "TH"},
          {kIdentityQuery, "F0012"s + kFs + "MV0340" + kFs + "12345678" + kFs + "KORVANE" + kFs + "L5300"},
          {variableQuery("KeyCheckSum.M.019"), variableQuery("KeyCheckSum.M.019") + kFs + "VV7A3D90C1;Usage=DATADECDIR"},
          {variableQuery("KeyKsn.6"), variableQuery("KeyKsn.6") + kFs + "VVFFFFAF4210E00004"},
          {variableQuery("KeyKsn.12"), variableQuery("KeyKsn.12") + kFs + "VVFFFF3D0190A41B000001"},
          {variableQuery("Other.1"), variableQuery("Other.1")}}},
        {"L5300-PCI3",
         {"--app-version", "0410", "--config-version", "0200", "--oem-id", "OEM-123456789", "--serial-number", "S9",
          "--key-checksum", "ABCD", "--pan-ksn", "none", "--pin-ksn", "FFFF3D0184"},
         {{"T", "TK"},
          {kIdentityQuery, "F0410"s + kFs + "MV0200" + kFs + "S9" + kFs + "OEM-123456789" + kFs + "L5300"},
          {variableQuery("KeyCheckSum.M.019"), variableQuery("KeyCheckSum.M.019") + kFs + "VVABCD"},
          {variableQuery("KeyKsn.6"), variableQuery("KeyKsn.6")},
          {variableQuery("KeyKsn.12"), variableQuery("KeyKsn.12") + kFs + "VVFFFF3D0184"}}},
        {"L5300-PCI2", {"--type-letter", "L"}, {{"T", "TL"}}},
        {"L5300-PCI3", {"--type-letter", ""}, {{"T", "T"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model + " " + (c.args.empty() ? "" : c.args[0]));
        startWith(c.args, c.model);
        for (const auto& [query, expected] : c.exchanges) EXPECT_EQ(client.transact(query), expected);
        const std::string log = stopped();
        EXPECT_EQ(violationsIn(log), 0) << log;
        client.close();
    }
}

TEST_F(EquinoxSimTest, SplitsVariableRepliesIntoNumberedSegmentsButNeverTheTypeOrIdentityReplies) {
    startWith({"--segment-size", "8", "--key-checksum", std::string(80, 'C') + ";Usage=DATADECDIR"});
    ASSERT_EQ(client.send(variableQuery("KeyKsn.6")), kAck);
    const std::vector<std::string> frames = client.readReply();
    const std::string whole = variableQuery("KeyKsn.6") + kFs + "VVFFFFAF4210E00004";
    ASSERT_EQ(frames.size(), (whole.size() + 7) / 8);
    for (size_t i = 0; i < frames.size(); ++i) {
        char header[32];
        std::snprintf(header, sizeof header, "%s%03zu", i + 1 < frames.size() ? "HY" : "HN", i + 1);
        EXPECT_EQ(frames[i].substr(0, 5), header);
        EXPECT_LE(frames[i].size(), 5u + 8u);
    }
    EXPECT_EQ(ScriptedEquinoxClient::joined(frames), whole);

    // The loader reads ten frames of a reply at most: the rest goes unacknowledged, and that is no violation.
    ASSERT_EQ(client.send(variableQuery("KeyCheckSum.M.019")), kAck);
    const std::vector<std::string> first = client.readReply();
    ASSERT_EQ(first.size(), 10u);
    EXPECT_EQ(first.back().substr(0, 5), "HY010");
    EXPECT_TRUE(sim->saysSoon("segments: the loader reads only 10 frames of one reply"));
    EXPECT_TRUE(sim->saysSoon("not acknowledged within 3000 ms, as the loader has stopped reading", 10000));
    client.drain(100);

    // "T" and "F" are read by a transaction that knows no segments.
    ASSERT_EQ(client.send("T"), kAck);
    EXPECT_EQ(client.readReply(), std::vector<std::string>{"TH"});
    ASSERT_EQ(client.send(kIdentityQuery), kAck);
    EXPECT_EQ(client.readReply().size(), 1u);
    EXPECT_EQ(violationsIn(stopped()), 0);
}

TEST_F(EquinoxSimTest, TakesTwoTransfersAskingInListOrderAndRestartsAfterEach) {
    test::TempDir kept;
    startWith({"--restart-time", "2000", "--transfers-dir", kept.path()});
    const std::string small = "\x03\x02" "abc\x03"s;  // frame bytes inside the data
    const std::string big = everyByte(130001);        // two "Y" chunks and an "N" chunk of 1 byte

    EXPECT_EQ(packingList("A.BIN\r\nBIG.DAT\nEMPTY.TXT\n"), "RA.BIN");
    EXPECT_EQ(sendFile("A.BIN", small), "RBIG.DAT");
    EXPECT_EQ(sendFile("BIG.DAT", big), "REMPTY.TXT");
    // The loader sends nothing for the empty last file and waits for the
    // restart: the pad takes the file as empty and restarts on that "T".
    EXPECT_EQ(client.send("T", 300), std::nullopt);
    EXPECT_TRUE(test::waitUntil([&] { return client.transact("T") == "TH"; }, 15000));
    EXPECT_EQ(sim->files.read("A.BIN"), small);
    EXPECT_EQ(sim->files.read("BIG.DAT"), big);
    EXPECT_EQ(sim->files.read("PACKINGLIST"), "A.BIN\r\nBIG.DAT\nEMPTY.TXT\n");
    ASSERT_TRUE(sim->files.exists("EMPTY.TXT"));
    EXPECT_EQ(sim->files.read("EMPTY.TXT"), "");

    // The second transfer's last file has data: the pad answers its last chunk
    // with nothing and restarts at once.
    EXPECT_EQ(packingList("C.DAT\n"), "RC.DAT");
    EXPECT_FALSE(sim->files.exists("A.BIN")) << "deleted by LALL";
    EXPECT_EQ(sendFile("C.DAT", everyByte(65000), false), "");
    EXPECT_EQ(client.send("T", 300), std::nullopt) << "silent while it restarts";
    EXPECT_TRUE(test::waitUntil([&] { return client.transact("T") == "TH"; }, 15000));
    EXPECT_EQ(sim->files.read("C.DAT"), everyByte(65000));
    EXPECT_EQ(kept.read("1/BIG.DAT"), big);
    EXPECT_EQ(kept.read("1/EMPTY.TXT"), "");
    EXPECT_EQ(kept.read("2/C.DAT"), everyByte(65000));

    const std::string log = stopped();
    EXPECT_EQ(violationsIn(log), 0) << log;
    size_t at = 0;
    for (const std::string line :
         {"LALL delete all files: 0 deleted\n", "PL5 PACKINGLIST, 25 bytes in 1 chunk: 3 names (transfer 1); asking for \"A.BIN\"\n",
          "PL5 \"A.BIN\", 6 bytes in 1 chunk stored", "PL5 \"BIG.DAT\", 130001 bytes in 3 chunks stored",
          "; asking for \"EMPTY.TXT\"\n", "T came while \"EMPTY.TXT\", the list's last name, was asked for: taken as an empty file",
          "restarting: silent for 2000 ms\n", "silent (restarting): \"T\" not answered\n", "T type query: \"H\"\n",
          "LALL delete all files: 4 deleted\n", "PL5 \"C.DAT\", 65000 bytes in 1 chunk stored", "; all files in\n",
          "restarting: silent for 2000 ms\n", "summary: "}) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found + line.size();
    }
    EXPECT_NE(log.find(", 2 transfers, 4 files received, violations: 0\n"), std::string::npos) << log;
}

TEST_F(EquinoxSimTest, RestartUnplugTakesTheLineAwayAndComesBackOnANewOne) {
    startWith({"--restart-unplug", "--restart-time", "300"});
    EXPECT_EQ(packingList("A\n"), "RA");
    EXPECT_EQ(sendFile("A", "a", false), "") << "the last chunk acknowledged before the line goes";
    ASSERT_TRUE(sim->saysSoon("restarting: the line is gone for 300 ms"));
    // The link stays and points to nothing: without it COM 1 would be the system's own serial port.
    EXPECT_EQ(std::filesystem::read_symlink(sim->devices.file("com1")), sim->devices.file("com1.unplugged"));
    EXPECT_FALSE(std::filesystem::exists(sim->devices.file("com1")));
    client.close();
    // Opening fails until the pad is back, as the loader's restart wait finds.
    ASSERT_TRUE(test::waitUntil([&] { return client.open(sim->devices.file("com1")); }, 10000));
    EXPECT_EQ(client.transact("T"), "TH");
    const std::string log = stopped();
    EXPECT_NE(log.find("back from the restart: pad ready on com1 -> /dev/pts/"), std::string::npos) << log;
    EXPECT_EQ(violationsIn(log), 0) << log;
}

TEST_F(EquinoxSimTest, ReportsEveryDeviationAsAViolation) {
    using Script = std::function<void(ScriptedEquinoxClient&)>;
    auto sending = [](std::string text) {
        return Script([text](ScriptedEquinoxClient& c) { EXPECT_TRUE(c.send(text, 3000).has_value()) << text; });
    };
    const std::string x65000(65000, 'x');
    const struct Case {
        const char* what;
        std::vector<std::string> args;
        Script script;
        std::vector<std::string> violations;
    } cases[] = {
        {"length field too large", {}, sending(ScriptedEquinoxClient::chunk('N', "X", "abc", "00004")),
         {"PL5 \"X\": the length field says 00004 but the chunk carries 3 bytes",
          "file \"X\" arrived unrequested: no packing list came before it"}},
        {"length field too small", {}, sending(ScriptedEquinoxClient::chunk('N', "X", "a\x03" "c", "00002")),
         {"PL5 \"X\": the length field says 00002 but the chunk carries 3 bytes", "file \"X\" arrived unrequested"}},
        {"length field not digits", {}, sending(ScriptedEquinoxClient::chunk('N', "X", "abc", "00a03")),
         {"PL5 \"X\": the length field \"00a03\" is not five decimal digits", "file \"X\" arrived unrequested"}},
        {"Y chunk not full", {}, sending(ScriptedEquinoxClient::chunk('Y', "X", "abc")),
         {"PL5 \"X\": a \"Y\" chunk of 3 bytes; every chunk but a file's last carries 65000",
          "file \"X\" cut short: the pad was stopped before its \"N\" chunk"}},
        {"chunk too long", {}, sending(ScriptedEquinoxClient::chunk('N', "X", x65000 + "x")),
         {"PL5 \"X\": a chunk of 65001 bytes, more than 65000", "file \"X\" arrived unrequested"}},
        {"empty N chunk", {}, sending(ScriptedEquinoxClient::chunk('N', "X", "")),
         {"PL5 \"X\": an empty \"N\" chunk; an empty file is not sent at all", "file \"X\" arrived unrequested"}},
        {"no FS after PL5", {}, sending("PL5N00003X"s + kFs + "abc"),
         {"PL5 chunk \"PL5N00003X<FS>abc\" refused: no FS after \"PL5\""}},
        {"bad flag", {}, sending("PL5"s + kFs + "Q00003X" + kFs + "abc"),
         {"refused: the byte after the FS is \"Q\", not \"Y\" or \"N\""}},
        {"no FS after the name", {}, sending("PL5"s + kFs + "N00003Xabc"), {"refused: no FS after the file name"}},
        {"name too long", {}, sending(ScriptedEquinoxClient::chunk('N', std::string(41, 'N'), "a")),
         {"a name of 41 bytes, more than a bundle entry's 40", "arrived unrequested"}},
        {"file cut short by another",
         {},
         [&](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send(ScriptedEquinoxClient::chunk('Y', "A", x65000)), kAck);
             EXPECT_EQ(c.send(ScriptedEquinoxClient::chunk('N', "B", "b")), kAck);
         },
         {"PL5 \"A\" cut short after 1 chunks: a chunk of \"B\" came before its \"N\" chunk",
          "file \"B\" arrived unrequested"}},
        {"unknown message", {}, sending("Z"), {"unknown message \"Z\""}},
        {"identity query not exact", {}, sending("F"), {"unknown message \"F\""}},
        {"variable query without a name", {}, sending("v"s + kFs + "GV" + kFs + "VN"), {"unknown message"}},
        {"bad check byte",
         {},
         [](ScriptedEquinoxClient& c) {
             std::string frame = ScriptedEquinoxClient::frame("T");
             frame.back() = static_cast<char>(frame.back() ^ 1);
             c.write(frame);
             EXPECT_EQ(c.readByte(2000), kNak);
         },
         {"bad check byte on \"T\": NAK"}},
        {"bytes outside a frame",
         {},
         [](ScriptedEquinoxClient& c) {
             c.write("xy");
             EXPECT_EQ(c.transact("T"), "TH");
         },
         {"2 bytes outside any frame: xy"}},
        {"file other than the one asked for",
         {},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(test::startTransfer(c, "A\n"), "RA");
             EXPECT_EQ(test::sendFile(c, "B", "b"), "RA") << "asked for again";
         },
         {"file \"B\" arrived unrequested: \"A\" was asked for",
          "file \"A\" was asked for and never arrived (the pad was stopped)"}},
        {"names that never arrive",
         {},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(test::startTransfer(c, "A\nB\n"), "RA");
             EXPECT_EQ(c.send("LALL"), kAck);
         },
         {"file \"A\" was asked for and never arrived (\"LALL\" came first)",
          "packing list name \"B\" never asked for: the transfer ended (\"LALL\" came first)"}},
        {"packing list naming a file twice",
         {},
         [](ScriptedEquinoxClient& c) { EXPECT_EQ(test::startTransfer(c, "A\nA\n"), "RA"); },
         {"the packing list names \"A\" twice; asked for once", "file \"A\" was asked for and never arrived"}},
        {"packing list without LALL",
         {},
         [](ScriptedEquinoxClient& c) { EXPECT_EQ(test::sendFile(c, "PACKINGLIST", "A\n"), "RA"); },
         {"a packing list without \"LALL\" before it", "file \"A\" was asked for and never arrived"}},
        {"a chunk transmitted a third time",
         {"--fault", "nak=2@PL5"},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("LALL"), kAck);
             const std::string list = ScriptedEquinoxClient::chunk('N', "PACKINGLIST", "A\n");
             EXPECT_EQ(c.send(list), kNak);
             EXPECT_EQ(c.send(list), kNak);
             EXPECT_EQ(c.send(list), kAck);
             EXPECT_EQ(ScriptedEquinoxClient::joined(c.readReply()), "RA");
         },
         {"chunk \"PL5<FS>N00002PACKINGLIST<FS>...\" transmitted a third time; the loader sends a frame twice at most"}},
        {"a frame sent before the last was acknowledged",
         {},
         [this](ScriptedEquinoxClient& c) {
             c.write(ScriptedEquinoxClient::frame("T") + ScriptedEquinoxClient::frame("T"));
             // The first reply meets the second "T" where its ACK belongs; the second reply is acknowledged.
             ASSERT_TRUE(test::waitUntil([&] { return countOf(sim->output(), "T type query") == 2; }, 5000));
             EXPECT_EQ(c.readFrame(2000), ScriptedEquinoxClient::frame("TH"));
             EXPECT_EQ(c.readReply(), std::vector<std::string>{"TH"});
         },
         {"more bytes came before \"T\" was acknowledged", "reply \"TH\" answered with byte 02, neither ACK nor NAK"}},
        {"a reply never acknowledged",
         {},
         [this](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("T"), kAck);
             EXPECT_TRUE(c.readFrame(2000).has_value());
             // Awaited, not slept on: a busy machine may take the simulator past any fixed pause.
             EXPECT_TRUE(test::waitUntil([&] { return countOf(sim->output(), "not acknowledged") == 1; }, 20000));
             c.drain(200);
         },
         {"reply \"TH\" not acknowledged within 3000 ms"}},
        {"a good reply refused",
         {},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("T"), kAck);
             EXPECT_TRUE(c.readFrame(2000).has_value());
             c.write(std::string(1, kNak));
             EXPECT_EQ(c.readReply(), std::vector<std::string>{"TH"}) << "sent again";
         },
         {"reply \"TH\" refused (NAK) although its check byte was right"}},
        {"a bad reply acknowledged",
         {"--fault", "corrupt-reply=1@T"},
         [](ScriptedEquinoxClient& c) {
             EXPECT_EQ(c.send("T"), kAck);
             const std::optional<std::string> frame = c.readFrame(2000);
             ASSERT_TRUE(frame.has_value());
             EXPECT_FALSE(ScriptedEquinoxClient::checks(*frame));
             c.write(std::string(1, kAck));
         },
         {"reply \"TH\" with a wrong check byte acknowledged (ACK)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--restart-time", "0"});
        startWith(args);
        c.script(client);
        const std::string log = stopped();
        for (const std::string& violation : c.violations)
            EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)violation: [^\n]*" + escaped(violation))))
                << violation << "\n" << log;
        EXPECT_EQ(violationsIn(log), static_cast<int>(c.violations.size())) << log;
        client.close();
    }
}

TEST_F(EquinoxSimTest, FaultSwitches) {
    {
        SCOPED_TRACE("nak=1@PL5: the second transmission of a chunk is taken; a fault in a transfer excuses what never came");
        startWith({"--fault", "nak=1@PL5"});
        EXPECT_EQ(client.send("LALL"), kAck);
        const std::string list = ScriptedEquinoxClient::chunk('N', "PACKINGLIST", "A\n");
        EXPECT_EQ(client.send(list), kNak);
        EXPECT_EQ(client.send(list), kAck);
        EXPECT_EQ(ScriptedEquinoxClient::joined(client.readReply()), "RA");
        const std::string log = stopped();
        EXPECT_NE(log.find("fault nak: \"PL5<FS>N00002PACKINGLIST<FS>...\" refused\n"), std::string::npos) << log;
        EXPECT_EQ(violationsIn(log), 0) << log;
        client.close();
    }
    {
        SCOPED_TRACE("silent=1@LALL");
        startWith({"--fault", "silent=1@LALL"});
        EXPECT_EQ(client.transact("T"), "TH");
        EXPECT_EQ(client.send("LALL", 500), std::nullopt);
        EXPECT_EQ(client.send("LALL"), kAck);
        EXPECT_EQ(violationsIn(stopped()), 0);
        client.close();
    }
    {
        SCOPED_TRACE("corrupt-reply=1@v: the client's NAK brings the good frame");
        startWith({"--fault", "corrupt-reply=1@v", "--segment-size", "10"});
        EXPECT_EQ(client.transact(variableQuery("KeyKsn.6")), variableQuery("KeyKsn.6") + kFs + "VVFFFFAF4210E00004");
        EXPECT_EQ(violationsIn(stopped()), 0);
        client.close();
    }
    {
        SCOPED_TRACE("unknown-request");
        startWith({"--fault", "unknown-request=NOPE.BIN"});
        EXPECT_EQ(packingList("A\nB\n"), "RNOPE.BIN");
        const std::string log = stopped();
        EXPECT_NE(log.find("fault unknown-request: asking for \"NOPE.BIN\""), std::string::npos) << log;
        EXPECT_EQ(violationsIn(log), 0) << log;
        client.close();
    }
    {
        SCOPED_TRACE("refuse-after-restart: every frame refused after the restart");
        startWith({"--fault", "refuse-after-restart", "--restart-time", "0"});
        EXPECT_EQ(packingList("A\n"), "RA");
        EXPECT_EQ(sendFile("A", "a", false), "");
        EXPECT_EQ(client.send("T"), kNak);
        EXPECT_EQ(client.send("LALL"), kNak);
        const std::string log = stopped();
        EXPECT_NE(log.find("fault refuse-after-restart: restarting, and refusing every frame from now on\n"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("refusing (fault refuse-after-restart): \"T\" NAKed\n"), std::string::npos) << log;
        EXPECT_EQ(violationsIn(log), 0) << log;
        client.close();
    }
    {
        SCOPED_TRACE("stay-down=unplug: the port cannot be opened again");
        startWith({"--fault", "stay-down=unplug", "--restart-time", "0"});
        EXPECT_EQ(packingList("A\n"), "RA");
        EXPECT_EQ(sendFile("A", "a", false), "");
        ASSERT_TRUE(sim->saysSoon("fault stay-down=unplug: restarting, and the line is gone for good"));
        EXPECT_TRUE(std::filesystem::is_symlink(sim->devices.file("com1")));
        EXPECT_FALSE(std::filesystem::exists(sim->devices.file("com1")));
        client.close();
        EXPECT_FALSE(client.open(sim->devices.file("com1")));
        EXPECT_EQ(violationsIn(stopped()), 0);
    }
    {
        SCOPED_TRACE("stay-down: nothing is answered after the restart");
        startWith({"--fault", "stay-down", "--restart-time", "0"});
        EXPECT_EQ(packingList("A\n"), "RA");
        EXPECT_EQ(sendFile("A", "a", false), "");
        EXPECT_EQ(client.send("T", 500), std::nullopt);
        EXPECT_EQ(client.send("T", 500), std::nullopt);
        const std::string log = stopped();
        EXPECT_NE(log.find("fault stay-down: restarting, and never answering again\n"), std::string::npos) << log;
        EXPECT_NE(log.find("down (fault stay-down): \"T\" not answered\n"), std::string::npos) << log;
        EXPECT_EQ(violationsIn(log), 0) << log;
    }
}

TEST(EquinoxSimUsage, RefusesOptionsOfTheOtherFamily) {
    for (const std::vector<std::string>& args : {
             std::vector<std::string>{"--model", "L5300-PCI2", "--fault", "refuse-file"},
             {"--model", "L5300-PCI3", "--fault", "drop-after-block=1"},
             {"--model", "L5300-PCI2", "--fault", "nak@62"},
             {"--fault", "stay-down"},
             {"--fault", "unknown-request=A"},
             {"--fault", "nak@PL5"},
             {"--segment-size", "8"},
             {"--restart-unplug"},
             {"--type-letter", "H"},
             {"--model", "L5300-PCI2", "--fault", "stay-down=2"},
             {"--model", "L5300-PCI2", "--fault", "stay-down=nak"},
             {"--model", "L5300-PCI2", "--fault", "refuse-after-restart=1"},
             {"--fault", "refuse-after-restart"},
             {"--model", "L5300-PCI2", "--fault", "nak@X"},
             {"--model", "L5300-PCI2", "--segment-size", "x"},
         }) {
        test::ChildProcess sim(KORVANE_PAD_SIM_PATH, args);
        EXPECT_EQ(sim.waitForExit(10000), 2) << args.back();
        EXPECT_NE(sim.standardError().find("Usage: korvane-pad-sim"), std::string::npos) << args.back();
    }
}

}  // namespace
}  // namespace korvane
