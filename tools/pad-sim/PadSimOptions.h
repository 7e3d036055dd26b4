#pragma once

#include "tools/padpeer/LineNoise.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane::padsim {

// A fault switched on from the command line: "NAME", "NAME=VALUE", with
// "@SCOPE" limiting it to one kind of message: an RBA message number ("nak=6@62")
// or an Equinox command ("nak=2@PL5").
struct PadFault {
    enum class Kind {
        nak,            // NAK the next `count` good frames
        silent,         // ignore the next `count` frames: no ACK, no reply
        corruptReply,   // a wrong check byte on the next `count` reply transmissions
        dropAfterBlock, // RBA: take blocks 1..`block` of a download, then ignore everything until a new download
        refuseFile,     // RBA: answer the last block of the next `count` downloads "62." + `code`
        unknownRequest, // Equinox: the next file request asks for `code`, a name the bundle does not hold
        stayDown,       // Equinox: after the next restart the pad never answers again; `code`: silent or unplug
        refuseAfterRestart, // Equinox: after the next restart the pad NAKs every frame, at once
        shortReply,     // Verifone: the next `count` identity replies are cut to their first character
        badStatus,      // Verifone: the next `count` identity replies carry the status `code`
    };
    Kind kind = Kind::nak;
    long count = 1;
    long block = 0;
    std::string code = "9";
    std::string scope;  // RBA message number or Equinox command; empty: every message
};

// The Equinox L5300 generations the simulator can be, by --model.
inline constexpr char kEquinoxPci2Model[] = "L5300-PCI2";
inline constexpr char kEquinoxPci3Model[] = "L5300-PCI3";
bool isEquinoxModel(const std::string& model);

struct PadSimOptions {
    bool help = false;

    std::string deviceDir;  // empty: $KORVANE_DEVICE_DIR, else the loader's default folder
    int port = 1;
    std::string filesDir;        // received files land here; empty: kept in memory only
    std::string parametersFile;  // empty: <filesDir>/parameters.txt when there is a files dir

    // Identification ("07." reply pieces).
    std::string manufacturer = "INGENICO";     // piece 1, after "07."
    std::string model = "iPP350";              // piece 2
    std::string serialNumber = "12345678";     // piece 3
    std::string appVersion = "2301";           // piece 9: the application version
    std::string rbaVersion = "RBA23";          // piece 10
    std::string configVersion = "CFG0100";     // piece 11
    std::string oemId = "KORVANE";             // piece 14
    std::string modelSuffix;                   // reported as model-SUFFIX while 13.23 is "1" ("31": a V4 pad)

    // Key check ("29." reply; Equinox: the variables KeyKsn.12 and KeyKsn.6);
    // nullopt leaves the item out.
    std::optional<std::string> pinKsn = std::string("FFFF9876543210E00001");
    std::optional<std::string> panKsn = std::string("FFFFAF4210E00004");

    // Equinox only. The "T" reply's letter (default "H" for PCI2, "K" for PCI3),
    // the variable KeyCheckSum.M.019, the text bytes per reply segment (0: one
    // frame per reply), and where each transfer's files are kept apart.
    std::optional<std::string> typeLetter;
    std::optional<std::string> keyCheckSum = std::string("7A3D90C1;Usage=DATADECDIR");
    uint32_t segmentSize = 0;
    std::string transfersDir;
    bool restartUnplug = false;  // while it restarts the line is gone, as a USB pad's is

    std::vector<std::pair<std::string, std::string>> parameters;  // preset "G.I" = value

    uint32_t installMs = 2000;   // an application image is answered after this long
    uint32_t restartMs = 15000;  // then the pad is silent this long (Equinox: after its last file)
    uint32_t rebootMs = 10000;   // silent after "97."
    uint32_t baud = 0;           // pace the line as a cable at this speed; 0: as fast as it goes
    bool verbose = false;        // a line for every block and every NAK as well
    std::string recordFile;      // at the end, every byte the pad received, raw, into this file

    std::vector<PadFault> faults;
    // --fault noise=RATE[:SEED]: korvane-pad-sim lays it on every line it opens.
    std::optional<padpeer::LineNoiseSettings> noise;
};

// Parses the arguments (without the program name); false with a reason.
bool parsePadSimOptions(const std::vector<std::string>& args, PadSimOptions& options, std::string& error);

std::string padSimUsage();

}  // namespace korvane::padsim
