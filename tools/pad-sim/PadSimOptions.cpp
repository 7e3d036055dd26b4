#include "tools/pad-sim/PadSimOptions.h"

#include "tools/common/CommandArguments.h"
#include "tools/pad-sim/VerifoneSimulator.h"

#include <cstdlib>
#include <set>

namespace korvane::padsim {
namespace {

using tools::isDecimalNumber;

bool isMessageNumber(const std::string& text) { return text.size() == 2 && isDecimalNumber(text); }

// The Equinox commands a fault may be limited to.
bool isEquinoxCommand(const std::string& text) {
    return text == "T" || text == "F" || text == "v" || text == "LALL" || text == "PL5";
}

bool isRbaOnly(PadFault::Kind kind) {
    return kind == PadFault::Kind::dropAfterBlock || kind == PadFault::Kind::refuseFile;
}

bool isVerifoneOnly(PadFault::Kind kind) {
    return kind == PadFault::Kind::shortReply || kind == PadFault::Kind::badStatus;
}

bool isEquinoxOnly(PadFault::Kind kind) {
    return kind == PadFault::Kind::unknownRequest || kind == PadFault::Kind::stayDown ||
           kind == PadFault::Kind::refuseAfterRestart;
}

// The model is known only once every argument is read: faults and
// defaults that depend on the family are settled then.
bool settleFamily(PadSimOptions& options, const std::set<std::string>& given, std::string& error) {
    const bool equinox = isEquinoxModel(options.model);
    const bool verifone = isVerifoneModel(options.model);
    for (const PadFault& fault : options.faults) {
        const bool linkFault = fault.kind == PadFault::Kind::nak || fault.kind == PadFault::Kind::silent ||
                               fault.kind == PadFault::Kind::corruptReply;
        if (verifone) {
            if (!linkFault && !isVerifoneOnly(fault.kind)) {
                error = "a Verifone pad takes the faults nak, silent, corrupt-reply, short-reply and status";
                return false;
            }
            if (!fault.scope.empty()) {
                error = "a Verifone pad's faults take no scope";
                return false;
            }
            continue;
        }
        if (isVerifoneOnly(fault.kind)) {
            error = "faults short-reply and status are for the Verifone models " + std::string(kVx805Model) + " and " +
                    kP400Model;
            return false;
        }
        if (equinox && isRbaOnly(fault.kind)) {
            error = "faults drop-after-block and refuse-file are for RBA pads, not " + options.model;
            return false;
        }
        if (!equinox && isEquinoxOnly(fault.kind)) {
            error = "faults unknown-request and stay-down are for the Equinox models " + std::string(kEquinoxPci2Model) +
                    " and " + kEquinoxPci3Model;
            return false;
        }
        if (fault.scope.empty()) continue;
        if (equinox && !isEquinoxCommand(fault.scope)) {
            error = "fault scope \"" + fault.scope + "\": an Equinox command is T, F, v, LALL or PL5";
            return false;
        }
        if (!equinox && !isMessageNumber(fault.scope)) {
            error = "fault scope \"" + fault.scope + "\": a two-digit message number such as 62";
            return false;
        }
    }
    if (!equinox) {
        for (const char* option :
             {"--type-letter", "--key-checksum", "--segment-size", "--transfers-dir", "--restart-unplug"}) {
            if (given.count(option) != 0) {
                error = std::string(option) + " is for the Equinox models " + kEquinoxPci2Model + " and " +
                        kEquinoxPci3Model;
                return false;
            }
        }
        return true;
    }
    // Equinox defaults where the RBA ones do not fit: a four-character
    // application version, an "MV" configuration version, and a PIN key
    // serial number the loader's key check accepts.
    if (given.count("--app-version") == 0) options.appVersion = "0012";
    if (given.count("--config-version") == 0) options.configVersion = "0340";
    if (given.count("--pin-ksn") == 0) options.pinKsn = std::string("FFFF3D0190A41B000001");
    if (given.count("--restart-time") == 0) options.restartMs = 5000;
    if (!options.typeLetter) options.typeLetter = std::string(options.model == kEquinoxPci2Model ? "H" : "K");
    return true;
}

// "G.I" with both parts decimal.
bool isParameterName(const std::string& text) {
    const auto dot = text.find('.');
    return dot != std::string::npos && isDecimalNumber(text.substr(0, dot)) && isDecimalNumber(text.substr(dot + 1));
}

bool parseFault(const std::string& text, PadFault& fault, std::string& error) {
    std::string rest = text;
    const auto at = rest.find('@');
    if (at != std::string::npos) {
        fault.scope = rest.substr(at + 1);
        rest.erase(at);
        if (!isMessageNumber(fault.scope) && !isEquinoxCommand(fault.scope)) {
            error = "fault " + text +
                    ": the scope after \"@\" is a two-digit message number such as 62, or an Equinox command "
                    "(T, F, v, LALL, PL5)";
            return false;
        }
    }
    const auto equals = rest.find('=');
    const std::string name = rest.substr(0, equals);
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? rest.substr(equals + 1) : std::string();
    const auto colon = value.find(':');
    const std::string first = value.substr(0, colon);
    const std::string second = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    auto bad = [&](const char* why) {
        error = "fault " + text + ": " + why;
        return false;
    };

    if (name == "nak" || name == "silent" || name == "corrupt-reply") {
        fault.kind = name == "nak"      ? PadFault::Kind::nak
                     : name == "silent" ? PadFault::Kind::silent
                                        : PadFault::Kind::corruptReply;
        if (hasValue && !isDecimalNumber(value)) return bad("the value is a count");
        if (hasValue) fault.count = std::atol(value.c_str());
        return true;
    }
    if (!fault.scope.empty()) return bad("only nak, silent and corrupt-reply take a scope");
    if (name == "drop-after-block") {
        fault.kind = PadFault::Kind::dropAfterBlock;
        if (!isDecimalNumber(first) || std::atol(first.c_str()) < 1) return bad("the value is a block number from 1");
        if (colon != std::string::npos && !isDecimalNumber(second)) return bad("the count after \":\" is a number");
        fault.block = std::atol(first.c_str());
        if (colon != std::string::npos) fault.count = std::atol(second.c_str());
        return true;
    }
    if (name == "refuse-file") {
        fault.kind = PadFault::Kind::refuseFile;
        if (hasValue && !first.empty() && !isDecimalNumber(first)) return bad("the value is a count");
        if (!first.empty()) fault.count = std::atol(first.c_str());
        if (colon != std::string::npos) {
            if (second.empty() || second == "0" || second.find_first_of("\x02\x03\x1c\x1d") != std::string::npos)
                return bad("the code after \":\" is a status other than 0");
            fault.code = second;
        }
        return true;
    }
    if (name == "unknown-request") {
        fault.kind = PadFault::Kind::unknownRequest;
        fault.code = hasValue ? value : "NOTINBUNDLE.DAT";
        if (fault.code.empty() || fault.code.find_first_of(std::string("\x02\x03\x1c\n", 4)) != std::string::npos)
            return bad("the value is a file name");
        return true;
    }
    if (name == "stay-down") {
        fault.kind = PadFault::Kind::stayDown;
        fault.code = hasValue ? value : "silent";
        if (fault.code != "silent" && fault.code != "unplug") return bad("the value is silent or unplug");
        return true;
    }
    if (name == "short-reply") {
        fault.kind = PadFault::Kind::shortReply;
        if (hasValue && !isDecimalNumber(value)) return bad("the value is a count");
        if (hasValue) fault.count = std::atol(value.c_str());
        return true;
    }
    if (name == "status") {
        fault.kind = PadFault::Kind::badStatus;
        if (first.size() != 2 || first == "00" || first.find_first_of(std::string("\x02\x03\x1c\x1d", 4)) != std::string::npos)
            return bad("the value is a two-character status other than 00");
        if (colon != std::string::npos && !isDecimalNumber(second)) return bad("the count after \":\" is a number");
        fault.code = first;
        if (colon != std::string::npos) fault.count = std::atol(second.c_str());
        return true;
    }
    if (name == "refuse-after-restart") {
        fault.kind = PadFault::Kind::refuseAfterRestart;
        if (hasValue) return bad("it takes no value");
        return true;
    }
    error = "unknown fault \"" + name + "\" (see --help)";
    return false;
}

}  // namespace

bool isEquinoxModel(const std::string& model) { return model == kEquinoxPci2Model || model == kEquinoxPci3Model; }

bool parsePadSimOptions(const std::vector<std::string>& args, PadSimOptions& options, std::string& error) {
    tools::CommandArguments reader(args, error);
    std::set<std::string> given;
    while (reader.next()) {
        const std::string& arg = reader.current();
        given.insert(arg);
        auto value = [&](std::string& into) { return reader.value(into); };
        auto number = [&](long low, long high, uint32_t& into) { return reader.number(low, high, into); };
        auto ksn = [&](std::optional<std::string>& into) {
            std::string text;
            if (!value(text)) return false;
            if (text == "none") into.reset();
            else into = text;
            return true;
        };
        uint32_t n = 0;
        std::string text;
        bool ok = true;
        if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--device-dir") ok = value(options.deviceDir);
        else if (arg == "--port") {
            ok = number(1, 255, n);
            options.port = static_cast<int>(n);
        } else if (arg == "--files-dir") ok = value(options.filesDir);
        else if (arg == "--parameters-file") ok = value(options.parametersFile);
        else if (arg == "--manufacturer") ok = value(options.manufacturer);
        else if (arg == "--model") ok = value(options.model);
        else if (arg == "--serial-number") ok = value(options.serialNumber);
        else if (arg == "--app-version") ok = value(options.appVersion);
        else if (arg == "--rba-version") ok = value(options.rbaVersion);
        else if (arg == "--config-version") ok = value(options.configVersion);
        else if (arg == "--oem-id") ok = value(options.oemId);
        else if (arg == "--model-suffix") ok = value(options.modelSuffix);
        else if (arg == "--pin-ksn") ok = ksn(options.pinKsn);
        else if (arg == "--pan-ksn") ok = ksn(options.panKsn);
        else if (arg == "--key-checksum") ok = ksn(options.keyCheckSum);
        else if (arg == "--type-letter") {
            ok = value(text);
            if (ok) options.typeLetter = text;
        } else if (arg == "--segment-size") ok = number(0, 60000, options.segmentSize);
        else if (arg == "--transfers-dir") ok = value(options.transfersDir);
        else if (arg == "--restart-unplug") options.restartUnplug = true;
        else if (arg == "--param") {
            ok = value(text);
            const auto equals = text.find('=');
            if (ok && (equals == std::string::npos || !isParameterName(text.substr(0, equals)))) {
                error = "--param takes G.I=VALUE, e.g. 14.5=KORVANEL5000";
                return false;
            }
            if (ok) options.parameters.emplace_back(text.substr(0, equals), text.substr(equals + 1));
        } else if (arg == "--install-time") ok = number(0, 3600000, options.installMs);
        else if (arg == "--restart-time") ok = number(0, 3600000, options.restartMs);
        else if (arg == "--reboot-time") ok = number(0, 3600000, options.rebootMs);
        else if (arg == "--baud") ok = number(0, 4000000, options.baud);
        else if (arg == "--verbose") options.verbose = true;
        else if (arg == "--record") ok = value(options.recordFile);
        else if (arg == "--fault") {
            PadFault fault;
            ok = value(text);
            if (ok && text.rfind("noise=", 0) == 0) {
                options.noise.emplace();
                ok = padpeer::parseLineNoise(text.substr(6), *options.noise, error);
            } else if (ok && parseFault(text, fault, error)) {
                options.faults.push_back(fault);
            } else {
                ok = false;
            }
        } else {
            error = "unknown option \"" + arg + "\"";
            return false;
        }
        if (!ok) return false;
    }
    return settleFamily(options, given, error);
}

std::string padSimUsage() {
    return "Usage: korvane-pad-sim [OPTIONS]\n"
           "An RBA pad, or with --model L5300-PCI2 or L5300-PCI3 an Equinox L5300, or with --model Vx805 or\n"
           "P400 a Verifone pad, on a pseudo-terminal,\n"
           "reachable as COM port N through comN in the device folder. The first line is \"pad ready on\n"
           "comN -> DEVICE\"; then one line per message. Every deviation from the protocol is a line\n"
           "\"violation: ...\"; SIGINT or SIGTERM ends it with a summary that counts them (an RBA pad also\n"
           "lists its parameters).\n"
           "\n"
           "Line:\n"
           "  --device-dir DIR        folder for the comN link (else $KORVANE_DEVICE_DIR, else the loader's default)\n"
           "  --port N                the port number, 1 to 255 (1)\n"
           "  --baud N                pace the line as a cable of N baud, 10 bits a byte (0: unpaced)\n"
           "  --verbose               also a line for every file block or chunk and every NAK\n"
           "  --record FILE           at the end, every byte the pad received, as received, into FILE (RBA pads)\n"
           "Identification (RBA: \"07.\" reply):\n"
           "  --model NAME            piece 2 (iPP350); L5300-PCI2 or L5300-PCI3: an Equinox pad (below)\n"
           "  --model-suffix TEXT     while parameter 13.23 is \"1\" the model reads NAME-TEXT (31: a V4 pad)\n"
           "  --app-version V         piece 9, the application version (2301)\n"
           "  --rba-version V         piece 10 (RBA23)\n"
           "  --config-version V      piece 11 (CFG0100)\n"
           "  --oem-id ID             piece 14 (KORVANE)\n"
           "  --manufacturer TEXT     piece 1 after \"07.\" (INGENICO)\n"
           "  --serial-number TEXT    piece 3 (12345678)\n"
           "Keys (RBA: \"29.\" reply):\n"
           "  --pin-ksn VALUE|none    the text after \"KSN_0=\" (FFFF9876543210E00001)\n"
           "  --pan-ksn VALUE|none    the text after \"KSN_4=\" (FFFFAF4210E00004)\n"
           "Store:\n"
           "  --param G.I=VALUE       a parameter the pad already holds (repeatable), e.g. 14.5=KORVANEL5000\n"
           "  --files-dir DIR         every file received is written here under its pad name\n"
           "  --parameters-file FILE  rewritten at every change, lines \"G.I=VALUE\" (default\n"
           "                          DIR/parameters.txt with --files-dir)\n"
           "Timing:\n"
           "  --install-time MS       an application image is answered after MS (2000)\n"
           "  --restart-time MS       then the pad is silent for MS while it restarts (15000; Equinox: after\n"
           "                          the last file of a transfer, 5000)\n"
           "  --reboot-time MS        silent for MS after \"97.\" (10000)\n"
           "  An application image is a received file that holds the text RBA_APP_VERSION=V (V: letters,\n"
           "  digits, \".\", \"_\", \"-\"), anywhere in its bytes (a plain text member, a gzip header comment...):\n"
           "  once installed, piece 9 reads V. RBA_CONFIG_VERSION=V likewise sets piece 11, without a restart.\n"
           "Equinox L5300 (--model L5300-PCI2 or L5300-PCI3):\n"
           "  --type-letter TEXT      answered to \"T\" after \"T\" (H for PCI2, K for PCI3; e.g. L, or empty)\n"
           "  --app-version V         the \"F\" reply's four characters after \"F\" (0012)\n"
           "  --config-version V      the \"F\" reply's \"MV\" field (0340)\n"
           "  --serial-number TEXT    the \"F\" reply's field 3 (12345678)\n"
           "  --oem-id ID             the \"F\" reply's field 4 (KORVANE)\n"
           "  --key-checksum V|none   variable KeyCheckSum.M.019 (7A3D90C1;Usage=DATADECDIR)\n"
           "  --pan-ksn VALUE|none    variable KeyKsn.6 (FFFFAF4210E00004)\n"
           "  --pin-ksn VALUE|none    variable KeyKsn.12 (FFFF3D0190A41B000001)\n"
           "  --segment-size N        \"v\" replies and file requests longer than N bytes go as \"HY\" segments\n"
           "                          and a last \"HN\" one (0: one frame each; the default)\n"
           "  --transfers-dir DIR     each transfer's files are also kept in DIR/1, DIR/2 ... (LALL deletes\n"
           "                          only those in --files-dir)\n"
           "  --restart-unplug        while it restarts the pad is unplugged, as a USB pad is: the comN link\n"
           "                          goes, and a new pseudo-terminal takes its place when it is back\n"
           "  The \"PACKINGLIST\" file names the files, one per line, each line ending in LF (a CR before\n"
           "  the LF is ignored); the pad asks for them with \"R\" NAME in that order and restarts after the\n"
           "  last. Every deviation from the protocol is a line \"violation: ...\" and is counted.\n"
           "Verifone Vx805 and P400 (--model Vx805 or P400):\n"
           "  Answers \"S95\" (fixed positions: status, model, serial number, application version, OEM) and\n"
           "  \"S95\" FS \"11,12,15\" (tags 11 model, 12 version, 15 OEM), acknowledges \"*01P2\" U or 1 (download\n"
           "  mode, logged \"download mode: U\" or \"download mode: 1\") and answers \"Z8\" TEXT FS FS FS. A\n"
           "  Vx805 is spoken to at 9600 baud, a P400 at 115200; anything else is a \"violation: ...\" line.\n"
           "  --app-version V         tag 12 and positions 20-28, zero-padded to nine digits (2301)\n"
           "  --oem-id ID             tag 15 and positions 47-62 (KORVANE)\n"
           "  --serial-number TEXT    positions 8-19 of the fixed reply (12345678)\n"
           "Faults (--fault, repeatable; \"@SCOPE\" limits the first three to message NN, e.g. nak=6@62, or to\n"
           "the Equinox command T, F, v, LALL or PL5, e.g. nak=2@PL5):\n"
           "  nak[=N]                 NAK the next N good frames (1)\n"
           "  silent[=N]              ignore the next N frames: no ACK, no reply (1)\n"
           "  corrupt-reply[=N]       a wrong check byte on the next N reply transmissions (1)\n"
           "  drop-after-block=K[:N]  RBA: take blocks 1..K of a download, then ignore everything until a new\n"
           "                          download begins; for the next N downloads that reach block K+1 (1)\n"
           "  refuse-file[=N[:CODE]]  RBA: answer the last block of the next N downloads \"62.CODE\" (1, 9)\n"
           "  unknown-request[=NAME]  Equinox: the next file request asks for NAME (NOTINBUNDLE.DAT)\n"
           "  stay-down[=HOW]         Equinox: after the next restart the pad never answers again: silent (the\n"
           "                          default) ignores every frame, unplug takes the pseudo-terminal and its\n"
           "                          comN link away\n"
           "  refuse-after-restart    Equinox: after the next restart the pad NAKs every frame at once (a\n"
           "                          quick pad that never comes back: no acknowledgement time-out per try)\n"
           "  short-reply[=N]         Verifone: the next N identity replies are cut to their first character\n"
           "  status=CODE[:N]         Verifone: the next N identity replies carry status CODE (two characters)\n"
           "  noise=RATE[:SEED]       any pad: line noise; each byte in either direction is, at RATE per byte\n"
           "                          (e.g. 1e-4), changed, dropped or sent twice, from a random stream seeded\n"
           "                          by SEED (1), so that a run replays; one line \"noise: DIRECTION byte\n"
           "                          OFFSET: ...\" per error, and the counts when the pad stops\n";
}

}  // namespace korvane::padsim
