#include "pad/RbaPad.h"

#include "pad/ControlChars.h"
#include "tests/pad/RbaPadRig.h"
#include "tests/support/ChildProcess.h"
#include "tools/padpeer/PadPeer.h"
#include "job/CancelRequested.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace korvane {
namespace {

using namespace std::string_literals;
using padpeer::PadPeer;
using test::wire;

// The procedure waits of this binary run at a hundredth (the link time-outs do not).
const bool waitsScaled = [] { return ::setenv("KORVANE_WAIT_SCALE", "0.01", 1) == 0; }();

using Replies = std::vector<std::string>;

// The texts of every frame the pad received, in order.
std::vector<std::string> texts(const PadPeer& peer) {
    std::vector<std::string> all;
    for (const std::string& frame : peer.framesReceived()) all.push_back(padpeer::textOf(frame));
    return all;
}

// A pad that answers like an RBA pad: "00." with "00.0000", "60." with
// "60.2", "61." from `value`, and otherwise whatever `other` says.
PadPeer::Responder rbaLike(std::string value = "1000", std::function<Replies(const std::string&)> other = {}) {
    return [value, other](const std::string& text) -> Replies {
        if (text.rfind("00.", 0) == 0) return {"00.0000"};
        if (text.rfind("60.", 0) == 0) return {"60.2"};
        if (text.rfind("61.", 0) == 0) {
            const std::string request = text.substr(3);
            return {"61.2" + request + "\x1d" + value};
        }
        return other ? other(text) : Replies{};
    };
}

TEST(RbaPadIdentify, FillsTheDeviceInfoOrRendersTheWholeReply) {
    test::RbaPadRig rig;
    std::string answer = wire("07.INGENICO~iPP350~SN1~a~b~c~d~e~2301~RBA23~CFG17~f~g~OEM42~h");
    PadPeer peer(rig.line.pad, [&](const std::string& text) { return text == "07." ? Replies{answer} : Replies{}; });
    peer.start();
    std::string error;
    ASSERT_TRUE(rig.pad.identify(error)) << error;
    const DeviceInfo& device = rig.job.deviceInfo;
    EXPECT_EQ(device.padModel, "iPP350");
    EXPECT_EQ(device.padAppVersion, "2301");
    EXPECT_EQ(device.appVersion, "RBA23");
    EXPECT_EQ(device.configVersion, "CFG17");
    EXPECT_EQ(device.oemId, "OEM42");

    answer = "08.x";
    EXPECT_FALSE(rig.pad.identify(error));
    EXPECT_EQ(error, "No Valid Response to '07' Command:\r\n" + renderControlChars(padpeer::frameOf("08.x")));

    // No answer at all: the text has nothing after its line end.
    peer.nakNextFrames(1);
    EXPECT_FALSE(RbaPad::identify(rig.port, rig.job.deviceInfo, error));
    EXPECT_EQ(error, "No Valid Response to '07' Command:\r\n");
    EXPECT_EQ(texts(peer), (std::vector<std::string>{"07.", "07.", "07."}));
}

TEST(RbaPadParameters, GetReadsTheThirdPieceAndReportsFailures) {
    test::RbaPadRig rig;
    std::string status = "2";
    PadPeer peer(rig.line.pad, [&](const std::string& text) {
        return Replies{"61." + status + text.substr(3) + "\x1d" "1000"};
    });
    peer.start();
    std::string value = "stale";
    std::string error;
    ASSERT_TRUE(rig.pad.getParameter("14", "05", value, error)) << error;
    EXPECT_EQ(value, "1000");
    EXPECT_EQ(texts(peer), std::vector<std::string>{wire("61.14^05")});

    status = "4";
    EXPECT_FALSE(rig.pad.getParameter("14", "05", value, error));
    EXPECT_EQ(value, "");
    EXPECT_EQ(error, "GET Command to device Failed + [" +
                         renderControlChars(padpeer::frameOf(wire("61.414^05^1000")).substr(1)) + "]");

    peer.nakNextFrames(1);
    EXPECT_FALSE(rig.pad.getParameter("14", "05", value, error));
    EXPECT_EQ(error, "Sending GET Command to device Failed cr = 1");
    EXPECT_EQ(texts(peer).size(), 3u) << "one attempt only";
}

TEST(RbaPadParameters, SetTriesThreeTimesThenResets) {
    test::RbaPadRig rig;
    std::string status = "60.2";
    PadPeer peer(rig.line.pad, [&](const std::string& text) {
        return text.rfind("00.", 0) == 0 ? Replies{"00.0000"} : Replies{status};
    });
    peer.start();
    std::string error;
    ASSERT_TRUE(rig.pad.setParameter("7", "28", "1", error)) << error;
    EXPECT_EQ(texts(peer), (std::vector<std::string>{wire("60.7^28^1"), "00.0000"}));

    // A refused frame, then a good write.
    peer.nakNextFrames(1);
    ASSERT_TRUE(rig.pad.setParameter("14", "5", "KORVANEIPP350", error));
    EXPECT_EQ(texts(peer).size(), 5u);

    status = "60.9";
    EXPECT_FALSE(rig.pad.setParameter("30", "1", "OFFLINE.K3Z", error));
    EXPECT_EQ(error,
              "SET Command to device Failed + [" + renderControlChars(padpeer::frameOf("60.9").substr(1)) + "]");
    auto all = texts(peer);
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(all.begin() + 5, all.end()),
              (std::vector<std::string>{wire("60.30^1^OFFLINE.K3Z"), wire("60.30^1^OFFLINE.K3Z"),
                                        wire("60.30^1^OFFLINE.K3Z"), "00.0000"}));

    peer.nakNextFrames(3);
    status = "60.2";
    EXPECT_FALSE(rig.pad.setParameter("7", "45", "1", error));
    EXPECT_EQ(error, "Sending SET Command to device Failed");
}

TEST(RbaPadParameters, TheSignatureListIsOneMessageInOrder) {
    test::RbaPadRig rig;
    PadPeer peer(rig.line.pad, rbaLike());
    peer.start();
    std::string error;
    ASSERT_TRUE(rig.pad.setParameterList(error)) << error;
    EXPECT_EQ(texts(peer), (std::vector<std::string>{
                               wire("60.9^1^0~9^2^1~9^4^0~9^5^9~9^6^0~9^7^0~9^8^0~9^12^250~9^13^0~9^14^1000~9^15^1~"
                                    "9^16^0~7^1^3"),
                               "00.0000"}));
}

TEST(RbaPadParameters, EnsureWritesOnlyWhatDiffers) {
    test::RbaPadRig rig;
    PadPeer peer(rig.line.pad, rbaLike("1"));
    peer.start();
    EXPECT_TRUE(rig.pad.ensureParameter("8", "1", "1"));
    EXPECT_EQ(texts(peer), std::vector<std::string>{wire("61.8^1")});

    EXPECT_TRUE(rig.pad.ensureParameter("8", "15", "2"));
    EXPECT_EQ(texts(peer), (std::vector<std::string>{wire("61.8^1"), wire("61.8^15"), wire("60.8^15^2"), "00.0000"}));

    peer.nakNextFrames(1);
    EXPECT_FALSE(rig.pad.ensureParameter("8", "16", "2")) << "a failed read writes nothing";
    EXPECT_EQ(texts(peer).size(), 5u);
}

TEST(RbaPadParameters, ContactlessDefaultsAndTheirFailureText) {
    test::RbaPadRig rig;
    PadPeer peer(rig.line.pad, rbaLike("0", [](const std::string& text) {
        return text.rfind("62.", 0) == 0 ? Replies{"62.0"} : Replies{};
    }));
    peer.start();
    std::string error = "stale";
    ASSERT_TRUE(rig.pad.setContactlessDefaults(error, false, "<tlvtree/>")) << error;
    EXPECT_EQ(error, "");
    const auto all = texts(peer);
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all[1], wire("60.8^1^1"));
    EXPECT_EQ(all[4], wire("60.8^15^2"));
    EXPECT_EQ(all[7], wire("60.8^16^2"));
    EXPECT_EQ(all[9], wire("62.0801000011EMVCLESS.XML~<tlvtree/>"));

    // Skipping the extras leaves out 8.15 and 8.16.
    ASSERT_TRUE(rig.pad.setContactlessDefaults(error, true, "<tlvtree/>"));
    EXPECT_EQ(texts(peer).size(), 14u);

    peer.nakNextFrames(1);
    EXPECT_FALSE(rig.pad.setContactlessDefaults(error, true, "<tlvtree/>"));
    EXPECT_EQ(error, "Could not set contactless defaults.");
}

TEST(RbaPadCommands, PromptKeysAndReboot) {
    test::RbaPadRig rig;
    std::string keys = wire("29.2~KSN_0=FFFF01~KSN_4=FFFFAF4210E01");
    PadPeer peer(rig.line.pad, [&](const std::string& text) {
        return text.rfind("29.", 0) == 0 ? Replies{keys} : Replies{};
    });
    peer.start();

    EXPECT_TRUE(rig.pad.showPrompt("File load in progress.", "Please wait..."));
    EXPECT_EQ(texts(peer).back(), wire("24.MSG.K3Z~TPROMPTLINE1,File load in progress. Please wait..."));

    struct KeyCase {
        std::string reply;
        std::string verdict;
    };
    const KeyCase cases[] = {
        {"29.2~KSN_0=FFFF01~KSN_4=9189141234567", ""},
        {"29.2~KSN_0=FFFF01~KSN_4=FFFFAF4210E01", ""},
        {"29.2~KSN_0=FFFF01~KSN_4=FFFFAF4211E01", "Incorrect PAN key found. Please contact Korvane."},
        {"29.2~KSN_4=FFFFAF4210E01", "No PIN key found."},
        {"29.2~KSN_0=FFFF01", "No PAN key found."},
    };
    for (const KeyCase& c : cases) {
        keys = wire(c.reply);
        EXPECT_EQ(rig.pad.checkEncryptionKeys(), c.verdict) << c.reply;
        EXPECT_EQ(texts(peer).back(), "29.00000810");
    }
    peer.nakNextFrames(2);
    EXPECT_EQ(rig.pad.checkEncryptionKeys(), "Getting encryption keys from device failed");

    std::string error;
    EXPECT_TRUE(rig.pad.reboot(error, false));
    EXPECT_EQ(texts(peer).back(), "97.");
    peer.nakNextFrames(2);
    EXPECT_FALSE(rig.pad.reboot(error, false));
    EXPECT_EQ(error, "Failed to reboot device");
    peer.nakNextFrames(2);
    EXPECT_FALSE(rig.pad.showPrompt("a", "b"));
}

TEST(RbaPadReset, AwaitTheAnswerButJudgeByTheAcknowledgement) {
    test::RbaPadRig rig;
    bool answer = true;
    PadPeer peer(rig.line.pad, [&](const std::string&) { return answer ? Replies{"00.0000"} : Replies{}; });
    peer.start();
    EXPECT_TRUE(rig.pad.sendReset());
    EXPECT_TRUE(rig.pad.resetAndAwait());
    EXPECT_TRUE(test::waitUntil([&] { return peer.acksReceived() == 2; }, 5000)) << "the answer is acknowledged";
    answer = false;
    EXPECT_TRUE(rig.pad.resetAndAwait()) << "no answer within 3000 ms does not matter";
    peer.nakNextFrames(2);
    EXPECT_FALSE(rig.pad.resetAndAwait());
}

TEST(RbaPadWaitForPad, ThirtySixTriesThenTrueWithTheTimeoutText) {
    ASSERT_TRUE(waitsScaled);
    test::RbaPadRig rig;
    PadPeer peer(rig.line.pad, rbaLike());
    peer.nakNextFrames(1000);
    peer.start();
    std::string error = "stale";
    EXPECT_TRUE(rig.pad.waitForPad(error, 35, false));
    EXPECT_EQ(error, "Timeout waiting for pad.");
    EXPECT_EQ(texts(peer), std::vector<std::string>(36, "00.0000"));

    // Through reboot: the same wait after "97.".
    peer.nakNextFrames(0);
    ASSERT_TRUE(rig.pad.reboot(error, true));
    EXPECT_EQ(error, "");
    EXPECT_EQ(texts(peer).size(), 38u);
}

TEST(RbaPadWaitForPad, APadThatComesBackEndsTheWait) {
    test::RbaPadRig rig;
    PadPeer peer(rig.line.pad, rbaLike());
    peer.nakNextFrames(3);
    peer.start();
    std::string error = "Timeout from an earlier step";
    EXPECT_TRUE(rig.pad.waitForPad(error, 35, true)) << error;
    EXPECT_EQ(error, "") << "an old text must not pass for a time-out";
    EXPECT_EQ(texts(peer), std::vector<std::string>(4, "00.0000"));
    EXPECT_TRUE(rig.port.isOpen());
}

TEST(RbaPadWaitForPad, CancelAndAPortThatWillNotOpen) {
    test::RbaPadRig rig;
    PadPeer peer(rig.line.pad, rbaLike());
    peer.nakNextFrames(1000);
    peer.start();
    cancelRequested = true;
    std::string error;
    EXPECT_FALSE(rig.pad.waitForPad(error, 35, false));
    cancelRequested = false;
    EXPECT_EQ(error, "User canceled file load.");
    EXPECT_EQ(rig.job.errorText, "User canceled file load.");
    EXPECT_EQ(rig.statuses().back(), "Canceling...");
    EXPECT_EQ(texts(peer).size(), 1u);

    std::filesystem::create_symlink(rig.line.folder.file("missing"), rig.line.folder.file("com9"));
    rig.job.comPort = 9;
    EXPECT_FALSE(rig.pad.waitForPad(error, 35, true));
    EXPECT_EQ(error, "Failed on Com Port Access.");
}

TEST(RbaPadWithoutPort, FailsEveryCommand) {
    LoadJob job;
    RbaPad pad(InstallationConfig{}, &job);
    std::string error, value;
    EXPECT_FALSE(pad.identify(error));
    EXPECT_FALSE(pad.sendReset());
    EXPECT_FALSE(pad.getParameter("1", "1", value, error));
    EXPECT_EQ(error, "Sending GET Command to device Failed cr = 1");
    EXPECT_FALSE(pad.setParameter("1", "1", "1", error));
    EXPECT_EQ(pad.checkEncryptionKeys(), "Getting encryption keys from device failed");
    EXPECT_FALSE(pad.loadFile("data", "F.TXT", error));
    EXPECT_EQ(job.errorText, "F.TXT Load Command To Device Failed on block 1.");
    EXPECT_EQ(pad.loadPackingList(), 0);
}

}  // namespace
}  // namespace korvane
