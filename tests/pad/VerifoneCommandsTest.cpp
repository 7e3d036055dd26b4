#include "pad/VerifoneCommands.h"

#include "pad/ControlChars.h"
#include "pad/VerifonePad.h"
#include "tests/pad/RbaPadRig.h"
#include "tools/padpeer/PadPeer.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using padpeer::PadPeer;
using test::wire;
using Replies = std::vector<std::string>;

std::vector<std::string> texts(const PadPeer& peer) {
    std::vector<std::string> all;
    for (const std::string& frame : peer.framesReceived()) all.push_back(padpeer::textOf(frame));
    return all;
}

// A fixed-position reply: status, model at 3..7, version at 20..28, OEM identifier at 47..62.
std::string serialReplyText(const std::string& status) {
    std::string text = status + "VX805";
    text.resize(19, '-');
    text += "000020405";
    text.resize(46, '-');
    return text + "KV-OEM-4711     ";
}

enum class Fault { none, nak, silent, noReply };

void applyFault(PadPeer& peer, Fault fault) {
    if (fault == Fault::nak) peer.nakNextFrames(3);
    if (fault == Fault::silent) peer.ignoreNextFrames(3);
}

TEST(VerifoneCommands, IdentityQueriesFillTheDeviceOrGiveTheirText) {
    const struct Case {
        const char* what;
        bool tagged;
        std::string reply;  // "~" FS, "^" GS
        Fault fault;
        bool ok;
        std::string message, padModel, padAppVersion, oemId;
    } cases[] = {
        {"S95", false, serialReplyText("00"), Fault::none, true, "", "VX805", "20405", "KV-OEM-4711"},
        {"S95 status 01", false, serialReplyText("01"), Fault::none, false,
         "Unsuccessful Obtaining SerialNo From PinPad.", "", "", ""},
        {"S95 too short for its status", false, "0", Fault::none, false,
         "Unsuccessful Obtaining SerialNo From PinPad.", "", "", ""},
        {"S95 refused", false, "", Fault::nak, false, "NAK Error from PinPad.", "", "", ""},
        {"S95 unanswered", false, "", Fault::silent, false, "NO Response from PinPad.", "", "", ""},
        {"S95 ACKed without a reply", false, "", Fault::noReply, false, "Timeout Waiting for PinPad.", "", "", ""},
        {"tags", true, "S9500^11P400~1200987~15P400-OEM ", Fault::none, true, "", "P400", "987", "P400-OEM"},
        {"tags status 12", true, "S9512^11P400~1200987~15X", Fault::none, false,
         "Unsuccessful Obtaining SerialNo From PinPad.", "", "", ""},
        {"tags without GS", true, "S9500~11P400~1200987~15X", Fault::none, false,
         "Unsuccessful Obtaining SerialNo From PinPad.", "", "", ""},
        {"tags refused", true, "", Fault::nak, false, "NAK Error from PinPad.", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RbaPadRig rig;
        const std::string expectedQuery = c.tagged ? wire("S95~11,12,15") : "S95";
        PadPeer peer(rig.line.pad, [&](const std::string& text) -> Replies {
            if (text != expectedQuery || c.fault == Fault::noReply) return {};
            return {wire(c.reply)};
        });
        applyFault(peer, c.fault);
        peer.start();
        DeviceInfo device;
        std::string message;
        const bool ok = c.tagged ? readVerifoneTags(rig.port, device, message)
                                 : readVerifoneSerial(rig.port, device, message);
        peer.stop();
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(device.padModel, c.padModel);
        EXPECT_EQ(device.padAppVersion, c.padAppVersion);
        EXPECT_EQ(device.oemId, c.oemId);
        if (c.tagged) {
            EXPECT_EQ(device.appVersion, c.padAppVersion);
        }
        // exchange sends its frame once, whatever the pad does.
        ASSERT_EQ(texts(peer).size(), 1u);
        EXPECT_EQ(texts(peer)[0], expectedQuery);
    }
}

TEST(VerifoneCommands, DownloadModeRequestAndZ8) {
    const struct Case {
        const char* what;
        bool z8;
        bool usb;
        Fault fault;
        bool ok;
        std::string message;
        std::string sent;
    } cases[] = {
        {"download mode, USB", false, true, Fault::none, true, "", "*01P2U"},
        {"download mode, serial", false, false, Fault::none, true, "", "*01P21"},
        {"download mode refused", false, true, Fault::nak, false, "NAK Error from PinPad.", "*01P2U"},
        {"download mode unanswered", false, false, Fault::silent, false, "NO Response from PinPad.", "*01P21"},
        {"Z8", true, false, Fault::none, true, "", wire("Z8Upgrade failed~~~")},
        {"Z8 refused", true, false, Fault::nak, false, "NAK Error from PinPad.", wire("Z8Upgrade failed~~~")},
        {"Z8 without its reply", true, false, Fault::noReply, false, "Timeout Waiting for PinPad.",
         wire("Z8Upgrade failed~~~")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RbaPadRig rig;
        PadPeer peer(rig.line.pad, [&](const std::string& text) -> Replies {
            if (c.z8 && c.fault != Fault::noReply && text.rfind("Z8", 0) == 0) return {"Z800"};
            return {};
        });
        applyFault(peer, c.fault);
        peer.start();
        std::string message;
        const bool ok = c.z8 ? sendZ8Message(rig.port, "Upgrade failed", message)
                             : requestDownloadMode(rig.port, message, c.usb);
        peer.stop();
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(texts(peer), std::vector<std::string>{c.sent});
    }
}

// The pad object's own form opens the job's port itself and leaves it closed.
TEST(VerifoneCommands, PadFormOpensAndClosesThePort) {
    for (const bool acknowledged : {true, false}) {
        SCOPED_TRACE(acknowledged ? "acknowledged" : "refused");
        test::PadRig<VerifonePad> rig;
        rig.port.close();
        PadPeer peer(rig.line.pad, [](const std::string&) -> Replies { return {}; });
        if (!acknowledged) peer.nakNextFrames(1);
        peer.start();
        std::string message;
        EXPECT_EQ(rig.pad.requestDownloadMode(message, false), acknowledged);
        EXPECT_FALSE(rig.port.isOpen());
        peer.stop();
        EXPECT_EQ(message, acknowledged ? "" : "NAK Error from PinPad.");
        EXPECT_EQ(texts(peer), std::vector<std::string>{"*01P21"});
    }
    test::PadRig<VerifonePad> rig;
    rig.port.close();
    rig.job.comPort = 0;
    std::string message;
    EXPECT_FALSE(rig.pad.requestDownloadMode(message, true));
    EXPECT_EQ(message, "Failed on Com Port Access.");
}

}  // namespace
}  // namespace korvane
