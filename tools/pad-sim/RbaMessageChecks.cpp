#include "tools/pad-sim/RbaMessageChecks.h"

#include "tools/pad-sim/SimulatedPad.h"

#include <cstdio>

namespace korvane::padsim {
namespace {

constexpr char kFs = 0x1C;
constexpr char kGs = 0x1D;
constexpr unsigned char kEscape = 0xFF;
constexpr std::size_t kHeaderLength = 13;  // "62." type "8" sequence "0000" flag "1"

// The prompts the load procedures show, as the pad is sent them after "24.MSG.K3Z" FS.
constexpr const char* kPrompts[] = {
    "TPROMPTLINE1,File load in progress. Please wait...",
    "TPROMPTLINE1,Config load in progress. Please wait...",
};

// The fixed parameter list, triplets group GS index GS value joined by FS.
const std::string& fixedParameterList() {
    static const std::string list = [] {
        const char* const triplets[][3] = {{"9", "1", "0"},  {"9", "2", "1"},    {"9", "4", "0"},   {"9", "5", "9"},
                                           {"9", "6", "0"},  {"9", "7", "0"},    {"9", "8", "0"},   {"9", "12", "250"},
                                           {"9", "13", "0"}, {"9", "14", "1000"}, {"9", "15", "1"}, {"9", "16", "0"},
                                           {"7", "1", "3"}};
        std::string text = "60.";
        for (const auto& triplet : triplets) {
            if (text.size() > 3) text += kFs;
            text += std::string(triplet[0]) + kGs + triplet[1] + kGs + triplet[2];
        }
        return text;
    }();
    return list;
}

bool isDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

bool isPrintable(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

std::string shown(std::string_view text) { return "\"" + printable(std::string(text), 60) + "\""; }

std::string hexByte(unsigned char byte) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    return hex;
}

bool isOgzName(std::string_view name) {
    return name.size() >= 3 && (name.substr(name.size() - 3) == "OGZ" || name.substr(name.size() - 3) == "ogz");
}

}  // namespace

std::vector<std::string> RbaMessageChecks::check(std::string_view text) {
    std::vector<std::string> violations;
    const std::string_view number = text.substr(0, 3);
    auto exactly = [&](const char* expected) {
        if (text != expected) violations.push_back("message " + shown(text) + " where \"" + expected + "\" is due");
    };
    if (number == "07.") {
        exactly("07.");
    } else if (number == "00.") {
        exactly("00.0000");
    } else if (number == "29.") {
        exactly("29.00000810");
    } else if (number == "97.") {
        exactly("97.");
    } else if (number == "24.") {
        const std::string_view form = "24.MSG.K3Z";
        const std::string_view prompt = text.size() > form.size() + 1 ? text.substr(form.size() + 1) : "";
        bool known = false;
        for (const char* each : kPrompts) known = known || prompt == each;
        if (text.substr(0, form.size()) != form || text.size() <= form.size() || text[form.size()] != kFs || !known)
            violations.push_back("prompt " + shown(text) + " is none of the load's prompts");
    } else if (number == "61.") {
        const auto parts = split(text.substr(3), kGs);
        if (parts.size() != 2 || !isDigits(parts[0]) || !isDigits(parts[1]))
            violations.push_back("parameter read " + shown(text) + " is not \"61.\" group GS index");
    } else if (number == "60.") {
        if (text.find(kFs) != std::string_view::npos) {
            if (text != fixedParameterList())
                violations.push_back("parameter list " + shown(text) + " is not the fixed list in its order");
        } else {
            const auto parts = split(text.substr(3), kGs);
            if (parts.size() != 3 || !isDigits(parts[0]) || !isDigits(parts[1]) || !isPrintable(parts[2]))
                violations.push_back("parameter write " + shown(text) + " is not \"60.\" group GS index GS value");
        }
    } else if (number == "62.") {
        checkBlock(text, violations);
    } else {
        violations.push_back("message " + shown(text) + " is none the loader sends");
    }
    return violations;
}

void RbaMessageChecks::checkBlock(std::string_view text, std::vector<std::string>& violations) {
    const bool wellFormed = text.size() >= kHeaderLength && text[3] >= '0' && text[3] <= '3' && text[4] == '8' &&
                            isDigits(text.substr(5, 2)) && text.substr(7, 4) == "0000" &&
                            (text[11] == '0' || text[11] == '1') && text[12] == '1';
    if (!wellFormed) {
        violations.push_back("block header " + shown(text.substr(0, kHeaderLength)) +
                             " is not \"62.\" type \"8\" sequence \"0000\" flag \"1\"");
        return;
    }
    const char type = text[3];
    const int sequence = (text[5] - '0') * 10 + (text[6] - '0');
    std::string_view payload = text.substr(kHeaderLength);
    const bool first = type == '0' || type == '1';
    if (first) {
        const std::size_t end = payload.find(kFs);
        if (end == std::string_view::npos || end == 0) {
            violations.push_back("first block " + shown(text.substr(0, kHeaderLength)) + " without a file name and FS");
            downloading_ = false;
            return;
        }
        downloading_ = true;
        fileName_ = std::string(payload.substr(0, end));
        blocks_ = 0;
        lastSequence_ = 0;
        escapedBytes_ = 0;
        dataEnded_ = false;
        payload.remove_prefix(end + 1);
    } else if (!downloading_) {
        violations.push_back("block of type " + std::string(1, type) + " without a first block");
        return;
    }
    const int block = blocks_ + 1;
    const std::string where = printable(fileName_) + " block " + std::to_string(block);
    const int expectedSequence = lastSequence_ % 99 + 1;
    if (sequence != expectedSequence)
        violations.push_back(where + ": sequence " + std::to_string(sequence) + " where " +
                             std::to_string(expectedSequence) + " is due");
    const char expectedFlag = isOgzName(fileName_) ? '0' : '1';
    if (text[11] != expectedFlag)
        violations.push_back(where + ": OGZ flag \"" + std::string(1, text[11]) + "\" for a file named " +
                             printable(fileName_));

    bool endsInEscape = false;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        const auto byte = static_cast<unsigned char>(payload[i]);
        endsInEscape = false;
        if (byte < 0x20) {
            violations.push_back(where + ": byte " + hexByte(byte) + " sent raw, not escaped");
        } else if (byte == kEscape) {
            if (i + 1 == payload.size()) {
                violations.push_back(where + ": the payload ends inside an escape");
                break;
            }
            const auto escaped = static_cast<unsigned char>(payload[++i]);
            if (escaped != kEscape && (escaped < 0x20 || escaped >= 0x40))
                violations.push_back(where + ": escape FF " + hexByte(escaped) + " stands for no byte");
            endsInEscape = true;
        }
    }
    const std::size_t length = payload.size();
    if (length > kBlockSize + 1 || (length == kBlockSize + 1 && !endsInEscape))
        violations.push_back(where + ": " + std::to_string(length) + " payload bytes, over the block size of " +
                             std::to_string(kBlockSize));
    if (dataEnded_ && length > 0)
        violations.push_back(where + ": " + std::to_string(length) + " payload bytes after a short block");
    if (length < kBlockSize) dataEnded_ = true;

    ++blocks_;
    lastSequence_ = sequence;
    escapedBytes_ += length;
    if (type == '0' || type == '3') {
        const std::size_t expectedBlocks = (escapedBytes_ + kBlockSize - 1) / kBlockSize;
        if (static_cast<std::size_t>(blocks_) != expectedBlocks)
            violations.push_back(printable(fileName_) + " ended after " + std::to_string(blocks_) + " blocks where its " +
                                 std::to_string(escapedBytes_) + " payload bytes make " +
                                 std::to_string(expectedBlocks));
        downloading_ = false;
    }
}

}  // namespace korvane::padsim
