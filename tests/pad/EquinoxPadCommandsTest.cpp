#include "pad/EquinoxPad.h"

#include "pad/Bundle.h"
#include "pad/ControlChars.h"
#include "pad/EquinoxIdentify.h"
#include "pad/LinkCodes.h"
#include "pad/TaggedField.h"
#include "tests/pad/RbaPadRig.h"
#include "tools/padpeer/PadPeer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

namespace korvane {
namespace {

using namespace std::string_literals;
using padpeer::PadPeer;
using test::wire;
using Replies = std::vector<std::string>;
using EquinoxPadRig = test::PadRig<EquinoxPad>;

// The procedure waits of this binary run at a hundredth (the link time-outs do not).
const bool waitsScaled = [] { return ::setenv("KORVANE_WAIT_SCALE", "0.01", 1) == 0; }();

std::vector<std::string> texts(const PadPeer& peer) {
    std::vector<std::string> all;
    for (const std::string& frame : peer.framesReceived()) all.push_back(padpeer::textOf(frame));
    return all;
}

ByteArray bytes(const std::string& text) { return ByteArray(text.begin(), text.end()); }

// Printable file contents without STX or ETX, so that the peer's frame
// reading (which ends a frame at ETX) sees every chunk whole.
ByteArray fileOf(size_t size, char seed) {
    ByteArray data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>('A' + (seed + i) % 26);
    return data;
}

ByteArray bundleOf(const std::vector<std::pair<std::string, ByteArray>>& entries) {
    ByteArray bundle;
    for (const auto& [name, data] : entries) EXPECT_TRUE(appendBundleEntry(bundle, name, data));
    return bundle;
}

// What the peer received as "PL5" chunks, read by hand: per chunk the flag,
// the five-digit length, the name and the data.
struct Chunk {
    char flag;
    std::string length;
    std::string name;
    std::string data;
};

std::vector<Chunk> chunksOf(const PadPeer& peer) {
    std::vector<Chunk> chunks;
    for (const std::string& text : texts(peer)) {
        if (text.rfind("PL5\x1c", 0) != 0) continue;
        const size_t fs = text.find('\x1c', 10);
        chunks.push_back({text[4], text.substr(5, 5), text.substr(10, fs - 10), text.substr(fs + 1)});
    }
    return chunks;
}

// A pad that loads by its packing list: "LALL" and every chunk are ACKed; the
// last chunk of a file is answered with the request for the next name of
// `order` (nothing after the last, but `listedNothing` after a packing list
// that names no file); "T" is answered with `restartAnswer`.
struct PackingListPad {
    std::vector<std::string> order;
    std::string restartAnswer = "TH";
    std::string listedNothing = "0";
    size_t next = 0;
    std::mutex lock;

    PadPeer::Responder responder() {
        return [this](const std::string& text) -> Replies {
            std::lock_guard<std::mutex> guard(lock);
            if (text == "T") return restartAnswer.empty() ? Replies{} : Replies{restartAnswer};
            if (text.rfind("PL5\x1c" "N", 0) != 0) return {};
            if (next < order.size()) return {"R" + order[next++]};
            if (order.empty() && text.find("PACKINGLIST") == 10) return {listedNothing};
            return {};
        };
    }
};

class EquinoxPadTest : public ::testing::Test {
protected:
    // Unpacks `entries` into the rig's pad.
    void unpack(const std::vector<std::pair<std::string, ByteArray>>& entries) {
        bundle_ = bundleOf(entries);
        rig.job.configImage = &bundle_;
        ASSERT_TRUE(rig.pad.unpackBundle()) << rig.pad.LastErrorText();
        rig.pad.setStageLabel(EquinoxPad::kStageFpe);
    }

    EquinoxPadRig rig;
    ByteArray bundle_;
};

TEST_F(EquinoxPadTest, LoadsEveryFileInTheOrderThePadAsksAndWaitsForTheRestart) {
    const ByteArray big = fileOf(130001, 1), small = fileOf(10, 2), exact = fileOf(65000, 3);
    unpack({{"PACKINGLIST", bytes("C.BIN\nA.BIN\nB.BIN\n")}, {"A.BIN", big}, {"B.BIN", small}, {"C.BIN", exact}});
    PackingListPad script;
    script.order = {"C.BIN", "A.BIN", "B.BIN"};
    PadPeer peer(rig.line.pad, script.responder());
    peer.start();

    EXPECT_EQ(rig.pad.loadPackingList(), 2) << rig.job.loadReport.resultText;
    EXPECT_EQ(rig.job.loadReport.resultText, "Pad Loaded Successfully.");
    EXPECT_TRUE(rig.port.isOpen());
    peer.stop();

    const std::vector<std::string> received = texts(peer);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front(), "LALL");
    EXPECT_EQ(received.back(), "T");
    const std::vector<Chunk> chunks = chunksOf(peer);
    std::vector<std::string> heads;
    std::map<std::string, std::string> files;
    for (const Chunk& chunk : chunks) {
        heads.push_back(chunk.name + " " + chunk.flag + chunk.length);
        EXPECT_EQ(chunk.data.size(), std::stoul(chunk.length)) << chunk.name;
        files[chunk.name] += chunk.data;
    }
    EXPECT_EQ(heads, (std::vector<std::string>{"PACKINGLIST N00018", "C.BIN N65000", "A.BIN Y65000",
                                               "A.BIN Y65000", "A.BIN N00001", "B.BIN N00010"}));
    EXPECT_TRUE(files["A.BIN"] == std::string(big.begin(), big.end()));
    EXPECT_TRUE(files["B.BIN"] == std::string(small.begin(), small.end()));
    EXPECT_TRUE(files["C.BIN"] == std::string(exact.begin(), exact.end()));
    EXPECT_EQ(rig.statuses(),
              (std::vector<std::string>{"Deleting all files on Pad", "Loading FPE...", "Rebooting Terminal"}));
}

TEST_F(EquinoxPadTest, APackingListAloneGoesStraightToTheRestart) {
    unpack({{"PACKINGLIST", bytes("\n")}});
    PackingListPad script;
    PadPeer peer(rig.line.pad, script.responder());
    peer.start();
    rig.pad.setStageLabel(EquinoxPad::kStageForms);
    EXPECT_EQ(rig.pad.loadPackingList(), 2) << rig.job.loadReport.resultText;
    peer.stop();
    EXPECT_EQ(texts(peer), (std::vector<std::string>{"LALL", "PL5\x1cN00001PACKINGLIST\x1c\n", "T"}));
    EXPECT_EQ(rig.statuses()[1], "Loading Korvane Forms...");
}

// Each case: the bundle, what the pad asks for, the result text.
TEST(EquinoxPackingList, FailuresEndTheLoadWithTheirText) {
    using Entries = std::vector<std::pair<std::string, ByteArray>>;
    const ByteArray file = fileOf(20, 0);
    const struct Case {
        const char* what;
        Entries entries;
        std::vector<std::string> order;
        std::string resultText;
        int result;
    } cases[] = {
        {"no packing list", {{"A", file}}, {}, "Failed to find Packing list in download.\r\n", 0},
        {"a name not in the bundle", {{"PACKINGLIST", file}, {"A", file}}, {"NOPE.DAT"},
         "Failed to find NOPE.DAT in download.\r\n", 0},
        {"names are exact", {{"PACKINGLIST", file}, {"A", file}}, {"a"}, "Failed to find a in download.\r\n", 0},
        {"no request after the packing list", {{"PACKINGLIST", file}, {"A", file}}, {},
         "Invalid Response Loading file.\r\n" + renderControlChars(buildFrame("0")), 0},
        {"an empty file as the last one completes the transfer", {{"PACKINGLIST", file}, {"A", file}, {"E", {}}},
         {"A", "E"}, "Pad Loaded Successfully.", 2},
        {"an empty file with more to come leaves no request", {{"PACKINGLIST", file}, {"A", file}, {"E", {}}},
         {"E", "A"}, "Invalid Response Loading file.\r\n", 0},
        {"an empty packing list leaves no request", {{"PACKINGLIST", {}}, {"A", file}}, {"A"},
         "Invalid Response Loading file.\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EquinoxPadRig rig;
        ByteArray bundle = bundleOf(c.entries);
        rig.job.configImage = &bundle;
        ASSERT_TRUE(rig.pad.unpackBundle());
        PackingListPad script;
        script.order = c.order;
        PadPeer peer(rig.line.pad, script.responder());
        peer.start();
        EXPECT_EQ(rig.pad.loadPackingList(), c.result);
        EXPECT_EQ(rig.job.loadReport.resultText, c.resultText);
        peer.stop();
        EXPECT_EQ(texts(peer).front(), "LALL");
    }
}

TEST_F(EquinoxPadTest, AnAnswerThatIsNoFileRequestIsQuotedRendered) {
    unpack({{"PACKINGLIST", bytes("A\n")}, {"A", fileOf(5, 0)}});
    PadPeer peer(rig.line.pad, [](const std::string& text) -> Replies {
        return text.rfind("PL5", 0) == 0 ? Replies{"X{1"} : Replies{};
    });
    peer.start();
    EXPECT_EQ(rig.pad.loadPackingList(), 0);
    EXPECT_EQ(rig.job.loadReport.resultText,
              "Invalid Response Loading file.\r\n" + renderControlChars(buildFrame("X{1")));
    EXPECT_EQ(rig.job.loadReport.resultText.substr(32, 12), "[SX]X[7b]1[E");
}

TEST_F(EquinoxPadTest, DeletingIsTriedAgainAfterRefusals) {
    unpack({{"PACKINGLIST", bytes("A\n")}, {"A", fileOf(3, 0)}});
    PackingListPad script;
    script.order = {"A"};
    PadPeer peer(rig.line.pad, script.responder());
    peer.nakNextFrames(3);  // both sends of the first attempt, the first of the second
    peer.start();
    EXPECT_EQ(rig.pad.loadPackingList(), 2) << rig.job.loadReport.resultText;
    peer.stop();
    const std::vector<std::string> received = texts(peer);
    EXPECT_EQ(std::count(received.begin(), received.end(), "LALL"), 4);
}

TEST_F(EquinoxPadTest, DeletingGivesUpAfterAHundredAttempts) {
    unpack({{"PACKINGLIST", bytes("\n")}});
    PadPeer peer(rig.line.pad, [](const std::string&) { return Replies{}; });
    peer.nakNextFrames(1000);
    peer.start();
    EXPECT_EQ(rig.pad.loadPackingList(), 0);
    EXPECT_EQ(rig.job.loadReport.resultText, "Failed to delete files on Pad.\r\n");
    peer.stop();
    const std::vector<std::string> received = texts(peer);
    EXPECT_EQ(received.size(), 200u);
    EXPECT_EQ(std::count(received.begin(), received.end(), "LALL"), 200);
    EXPECT_EQ(rig.statuses(), std::vector<std::string>{"Deleting all files on Pad"});
}

TEST_F(EquinoxPadTest, ARefusedChunkStopsTheFileThere) {
    unpack({{"PACKINGLIST", bytes("BIG\n")}, {"BIG", fileOf(130001, 4)}});
    PackingListPad script;
    script.order = {"BIG"};
    PadPeer peer(rig.line.pad, [&](const std::string& text) -> Replies {
        // The first chunk of BIG is refused on both its sends.
        if (text.rfind("PL5\x1cY", 0) == 0) peer.nakNextFrames(2);
        return script.responder()(text);
    });
    peer.start();
    EXPECT_EQ(rig.pad.loadPackingList(), 0);
    EXPECT_EQ(rig.job.loadReport.resultText, "Failed Loading file BIG.\r\n");
    peer.stop();
    std::vector<std::string> heads;
    for (const Chunk& chunk : chunksOf(peer)) heads.push_back(chunk.name + " " + chunk.flag + chunk.length);
    EXPECT_EQ(heads, (std::vector<std::string>{"PACKINGLIST N00004", "BIG Y65000", "BIG Y65000", "BIG Y65000"}));
}

TEST_F(EquinoxPadTest, TheRestartEndsWithAnyLetterOfTheFamily) {
    for (const char* answer : {"TH", "TK", "TL"}) {
        PackingListPad script;
        script.restartAnswer = answer;
        PadPeer peer(rig.line.pad, script.responder());
        peer.nakNextFrames(3);  // the first three attempts are refused
        peer.start();
        EXPECT_TRUE(rig.pad.awaitRestart()) << answer;
        EXPECT_TRUE(rig.port.isOpen());
        peer.stop();
        EXPECT_EQ(texts(peer), std::vector<std::string>(4, "T")) << answer;
    }
}

TEST_F(EquinoxPadTest, APadThatNeverAnsweredAfterItsRestartHasNotComeBack) {
    unpack({{"PACKINGLIST", bytes("\n")}});
    PackingListPad script;
    script.restartAnswer = "TX";  // answers, but not as an L5300 family pad
    PadPeer peer(rig.line.pad, script.responder());
    peer.start();
    EXPECT_EQ(rig.pad.loadPackingList(), 0);
    EXPECT_EQ(rig.job.loadReport.resultText, "Failed after reboot.");
    EXPECT_TRUE(rig.port.isOpen()) << "the port opens: only the pad's silence fails the wait";
    peer.stop();
    const std::vector<std::string> received = texts(peer);
    EXPECT_EQ(std::count(received.begin(), received.end(), "T"), EquinoxPad::kRestartAttempts);
}

TEST_F(EquinoxPadTest, APortThatDoesNotOpenAgainFailsTheRestart) {
    // The link points to nothing, as one to an unplugged USB pad does; without
    // any link COM 1 would be this machine's own first serial port.
    std::filesystem::remove(rig.line.folder.file("com1"));
    std::filesystem::create_symlink(rig.line.folder.file("unplugged"), rig.line.folder.file("com1"));
    EXPECT_FALSE(rig.pad.awaitRestart());
    EXPECT_FALSE(rig.port.isOpen());
}

TEST_F(EquinoxPadTest, GetVariableAssemblesSegmentsAndKeepsTheFirstTen) {
    Replies segments;
    for (int i = 0; i < 12; ++i) segments.push_back("HY00" + std::to_string(i % 10) + (i == 0 ? "v\x1cVV" : "") + "s" +
                                                    std::to_string(i));
    segments.push_back("HN000end");
    PadPeer peer(rig.line.pad, [&](const std::string& text) -> Replies {
        if (text == wire("v~GV~VNKeyKsn.6")) return {"HY001v\x1cVVFFFF", "HY002987", "HN003654\x1c" "XX1"};
        if (text == wire("v~GV~VNMany")) return segments;
        return {};
    });
    peer.start();
    std::string reply;
    ASSERT_EQ(rig.pad.getVariable("KeyKsn.6", reply), kLinkSuccess);
    EXPECT_EQ(findTaggedField(reply, "VV"), "FFFF987654");
    ASSERT_EQ(rig.pad.getVariable("Many", reply), kLinkSuccess);
    EXPECT_EQ(findTaggedField(reply, "VV"), "s0s1s2s3s4s5s6s7s8s9");
    peer.nakNextFrames(1);
    EXPECT_EQ(rig.pad.getVariable("KeyKsn.6", reply), kLinkFailed);
    peer.stop();
}

// The link time-outs are never scaled: ten seconds for the acknowledgement, ten for the reply.
TEST_F(EquinoxPadTest, SilenceEndsTheWaitsAtTheirTimeOuts) {
    unpack({{"PACKINGLIST", bytes("A\n")}, {"A", fileOf(3, 0)}});
    PadPeer peer(rig.line.pad, [](const std::string&) { return Replies{}; });  // ACKs, never answers
    peer.ignoreNextFrames(1);
    peer.start();
    std::string reply;
    EXPECT_EQ(rig.pad.getVariable("KeyKsn.6", reply), kLinkAckTimeout);
    EXPECT_EQ(rig.pad.checkE2eKeys(), "Getting enablement key from device failed") << "acknowledged, then no reply";
    EXPECT_EQ(rig.pad.loadPackingList(), 0);
    EXPECT_EQ(rig.job.loadReport.resultText, "Failed Loading file PACKINGLIST.\r\n");
    peer.stop();
    EXPECT_EQ(texts(peer).size(), 4u) << "the query, the key check's first query, LALL and the packing list, once each";
}

TEST(EquinoxKeyCheck, TextsByWhatThePadHolds) {
    const std::string good = "Usage=DATADECDIR";
    const struct Case {
        const char* what;
        std::string enablement, pan, pin;  // the reply texts; "NAK": the query is refused
        std::string text;
    } cases[] = {
        {"acceptable", "v~VV" + good, "v~VV1234", "v~VVFFFF3D0190AB", ""},
        {"enablement key refused", "NAK", "", "", "Getting enablement key from device failed"},
        {"no enablement usage", "v~VVUsage=DATAENC", "", "", "E2E enablement key not present."},
        {"PAN key refused", "v~" + good, "NAK", "", "Getting PAN encryption key from device failed"},
        {"no PAN key", "v~" + good, "v~VV~XX", "", "No PAN key found."},
        {"PIN key refused", "v~" + good, "v~VV1", "NAK", "Getting PIN encryption key from device failed"},
        {"PIN key of another set", "v~" + good, "v~VV1", "v~VVFFFF3D0199", "Incorrect PIN found. Please contact Olbrek."},
        {"PIN key short", "v~" + good, "v~VV1", "v~VV3D", "Incorrect PIN found. Please contact Olbrek."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EquinoxPadRig rig;
        const std::vector<std::pair<std::string, std::string>> queries = {
            {wire("v~GV~VNKeyCheckSum.M.019"), c.enablement}, {wire("v~GV~VNKeyKsn.6"), c.pan},
            {wire("v~GV~VNKeyKsn.12"), c.pin}};
        PadPeer* self = nullptr;
        PadPeer peer(rig.line.pad, [&](const std::string& text) -> Replies {
            for (size_t i = 0; i < queries.size(); ++i) {
                if (text != queries[i].first) continue;
                // A refused query is NAKed on its one transmission: armed while answering the one before.
                if (i + 1 < queries.size() && queries[i + 1].second == "NAK") self->nakNextFrames(1);
                return {wire(queries[i].second)};
            }
            return {};
        });
        self = &peer;
        if (c.enablement == "NAK") peer.nakNextFrames(1);
        peer.start();
        EXPECT_EQ(rig.pad.checkE2eKeys(), c.text);
        peer.stop();
    }
}

}  // namespace
}  // namespace korvane
