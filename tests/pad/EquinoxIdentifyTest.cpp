#include "pad/EquinoxIdentify.h"

#include "pad/ControlChars.h"
#include "tests/pad/RbaPadRig.h"
#include "tools/padpeer/PadPeer.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using padpeer::PadPeer;
using test::wire;
using Replies = std::vector<std::string>;

TEST(EquinoxIdentify, LetterVersionsAndOemOrTheFailureText) {
    const struct Case {
        const char* what;
        std::string typeReply;   // "NAK": the "T" frame is refused
        std::string identity;    // "NAK": the "F" frame is refused
        bool ok;
        std::string message;
        std::string padModel, appVersion, configVersion, oemId;
    } cases[] = {
        {"PCI2", "TH", "F0012~a~b~OEM-0123456789~MV0340", true, "", "H", "0012", "1234", "OEM-01234567"},
        {"PCI3", "TK53", "F2310~~~KVN~MV0100", true, "", "K", "2310", "2311", "KVN"},
        {"an L answer", "TL", "", false,
         "Model does not appear to be L5300 Expecting 'H' or 'K' received 'L' " + renderControlChars(buildFrame("TL")),
         "", "", "", ""},
        {"a reply whose position 2 is its ETX", "T", "", false,
         "Model does not appear to be L5300 Expecting 'H' or 'K' received '\x03' " +
             renderControlChars(buildFrame("T")),
         "", "", "", ""},
        {"T refused", "NAK", "", false, "Sending 'T' Command to device Failed.", "", "", "", ""},
        {"F refused", "TH", "NAK", false, "Sending 'F' Command to device Failed", "H", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::RbaPadRig rig;
        PadPeer* self = nullptr;
        PadPeer peer(rig.line.pad, [&](const std::string& text) -> Replies {
            if (text == "T") {
                if (c.identity == "NAK") self->nakNextFrames(1);
                return {c.typeReply};
            }
            if (text == wire("F~MVY")) return {wire(c.identity)};
            return {};
        });
        self = &peer;
        if (c.typeReply == "NAK") peer.nakNextFrames(1);
        peer.start();
        DeviceInfo device;
        std::string message;
        EXPECT_EQ(identifyEquinox(rig.port, device, message), c.ok);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(device.padModel, c.padModel);
        EXPECT_EQ(device.appVersion, c.appVersion);
        EXPECT_EQ(device.configVersion, c.configVersion);
        EXPECT_EQ(device.oemId, c.oemId);
        peer.stop();
        // One transmission each: exchange never sends a frame twice.
        EXPECT_LE(peer.framesReceived().size(), 2u);
    }
}

}  // namespace
}  // namespace korvane
