#include "tools/pad-sim/FileAssembly.h"

namespace korvane::padsim {
namespace {

constexpr size_t kHeaderLength = 13;  // "62." type "8" sequence "0000" flag "1"
constexpr char kFileNameEnd = 0x1C;
constexpr unsigned char kEscape = 0xFF;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool unescape(std::string_view payload, std::string& into) {
    for (size_t i = 0; i < payload.size(); ++i) {
        const auto byte = static_cast<unsigned char>(payload[i]);
        if (byte != kEscape) {
            // The link's control bytes never travel raw inside a payload.
            if (byte < 0x20) return false;
            into += static_cast<char>(byte);
            continue;
        }
        if (++i == payload.size()) return false;
        const auto escaped = static_cast<unsigned char>(payload[i]);
        if (escaped == kEscape) into += static_cast<char>(kEscape);
        else if (escaped >= 0x20 && escaped < 0x40) into += static_cast<char>(escaped - 0x20);
        else return false;
    }
    return true;
}

}  // namespace

bool FileAssembly::isFirstBlock(std::string_view text) {
    return text.size() > 3 && text.substr(0, 3) == "62." && (text[3] == '0' || text[3] == '1');
}

bool FileAssembly::endsFile(std::string_view text) {
    return text.size() > 3 && text.substr(0, 3) == "62." && (text[3] == '0' || text[3] == '3');
}

FileAssembly::Step FileAssembly::fail(std::string why) {
    error_ = std::move(why);
    broken_ = true;
    return Step::error;
}

FileAssembly::Step FileAssembly::take(std::string_view text) {
    lastType_ = 0;
    if (text.size() < kHeaderLength || text.substr(0, 3) != "62." || text[4] != '8' || !isDigit(text[5]) ||
        !isDigit(text[6]) || text.substr(7, 4) != "0000" || (text[11] != '0' && text[11] != '1') || text[12] != '1')
        return fail("malformed block header");
    const char type = text[3];
    if (type < '0' || type > '3') return fail(std::string("unknown block type ") + type);
    lastType_ = type;
    const int sequence = (text[5] - '0') * 10 + (text[6] - '0');
    lastSequence_ = sequence;
    std::string_view payload = text.substr(kHeaderLength);

    if (type == '0' || type == '1') {
        const size_t end = payload.find(kFileNameEnd);
        if (end == std::string_view::npos || end == 0) return fail("first block without a file name and FS");
        if (sequence != 1) return fail("first block with sequence " + std::to_string(sequence));
        active_ = true;
        broken_ = false;
        blocks_ = 0;
        name_ = std::string(payload.substr(0, end));
        data_.clear();
        lastBlock_.clear();
        error_.clear();
        packageFlag_ = text[11] == '0';
        payload.remove_prefix(end + 1);
    } else {
        if (!active_ || broken_) return fail(active_ ? error_ : "block without a first block");
        // A block sent again (its acknowledgement was lost) is byte-identical;
        // consecutive blocks never are, their sequence numbers differ.
        if (blocks_ > 0 && lastBlock_ == text) return Step::duplicate;
    }
    const int expected = blocks_ == 0 ? 1 : (blocks_ % 99) + 1;
    if (sequence != expected)
        return fail("sequence " + std::to_string(sequence) + " where " + std::to_string(expected) + " was due");
    if (!unescape(payload, data_)) return fail("bad escape in block " + std::to_string(blocks_ + 1));
    ++blocks_;
    lastBlock_.assign(text);
    if (type == '0' || type == '3') {
        active_ = false;
        return Step::complete;
    }
    return Step::taken;
}

}  // namespace korvane::padsim
