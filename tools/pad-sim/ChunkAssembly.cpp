#include "tools/pad-sim/ChunkAssembly.h"

#include "tools/pad-sim/SimulatedPad.h"

namespace korvane::padsim {
namespace {

constexpr char kFs = 0x1C;
constexpr size_t kNameAt = 10;  // "PL5", FS, flag, five digits

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string shown(std::string_view text) { return "\"" + printable(std::string(text), 60) + "\""; }

}  // namespace

bool ChunkAssembly::split(std::string_view text, Fields& fields) {
    if (text.size() < kNameAt || text.substr(0, 3) != "PL5" || text[3] != kFs) return false;
    const size_t nameEnd = text.find(kFs, kNameAt);
    if (nameEnd == std::string_view::npos) return false;
    fields.flag = text[4];
    fields.lengthText = std::string(text.substr(5, 5));
    fields.name = std::string(text.substr(kNameAt, nameEnd - kNameAt));
    fields.data = text.substr(nameEnd + 1);
    return true;
}

ChunkAssembly::Step ChunkAssembly::take(std::string_view text, std::vector<std::string>& violations) {
    auto refuse = [&](const std::string& why) {
        violations.push_back("PL5 chunk " + shown(text.substr(0, 40)) + " refused: " + why);
        return Step::refused;
    };
    if (text.size() < 4 || text[3] != kFs) return refuse("no FS after \"PL5\"");
    if (text.size() < 5 || (text[4] != 'Y' && text[4] != 'N'))
        return refuse("the byte after the FS is " + shown(text.substr(4, 1)) + ", not \"Y\" or \"N\"");
    const size_t nameEnd = text.size() > kNameAt ? text.find(kFs, kNameAt) : std::string_view::npos;
    if (nameEnd == std::string_view::npos) return refuse("no FS after the file name");
    Fields fields;
    split(text, fields);
    if (fields.name.empty()) return refuse("no file name");

    const std::string& name = fields.name;
    if (!allDigits(fields.lengthText))
        violations.push_back("PL5 " + shown(name) + ": the length field " + shown(fields.lengthText) +
                             " is not five decimal digits");
    else if (std::stoul(fields.lengthText) != fields.data.size())
        violations.push_back("PL5 " + shown(name) + ": the length field says " + fields.lengthText +
                             " but the chunk carries " + std::to_string(fields.data.size()) + " bytes");
    if (name.size() > kMaxName)
        violations.push_back("PL5 " + shown(name) + ": a name of " + std::to_string(name.size()) +
                             " bytes, more than a bundle entry's 40");
    if (fields.data.size() > kMaxChunk)
        violations.push_back("PL5 " + shown(name) + ": a chunk of " + std::to_string(fields.data.size()) +
                             " bytes, more than 65000");
    if (fields.flag == 'Y' && fields.data.size() != kMaxChunk)
        violations.push_back("PL5 " + shown(name) + ": a \"Y\" chunk of " + std::to_string(fields.data.size()) +
                             " bytes; every chunk but a file's last carries 65000");
    if (fields.flag == 'N' && fields.data.empty())
        violations.push_back("PL5 " + shown(name) + ": an empty \"N\" chunk; an empty file is not sent at all");
    if (active_ && name != name_) {
        violations.push_back("PL5 " + shown(name_) + " cut short after " + std::to_string(chunks_) +
                             " chunks: a chunk of " + shown(name) + " came before its \"N\" chunk");
        active_ = false;
    }
    if (!active_) {
        active_ = true;
        name_ = name;
        data_.clear();
        chunks_ = 0;
    }
    data_.append(fields.data);
    ++chunks_;
    lastFlag_ = fields.flag;
    lastLength_ = fields.data.size();
    if (fields.flag == 'Y') return Step::taken;
    active_ = false;
    return Step::complete;
}

std::string ChunkAssembly::abandon() {
    if (!active_) return {};
    active_ = false;
    return name_;
}

}  // namespace korvane::padsim
