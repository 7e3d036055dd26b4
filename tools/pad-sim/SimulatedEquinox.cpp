#include "tools/pad-sim/SimulatedEquinox.h"

#include "tools/pad-sim/SimulatedPad.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace korvane::padsim {
namespace {

constexpr char kFs = 0x1C;
const std::string kPackingList = "PACKINGLIST";
const std::string kIdentityQuery = std::string("F") + kFs + "MVY";
const std::string kVariablePrefix = std::string("v") + kFs + "GV" + kFs + "VN";

std::string shown(const std::string& text) { return "\"" + printable(text, 60) + "\""; }

std::string chunkCount(int chunks) { return std::to_string(chunks) + (chunks == 1 ? " chunk" : " chunks"); }

}  // namespace

SimulatedEquinox::SimulatedEquinox(const PadSimOptions& options) : options_(options) {
    for (const PadFault& fault : options.faults)
        if (fault.kind == PadFault::Kind::unknownRequest)
            for (long i = 0; i < fault.count; ++i) unknownRequests_.push_back(fault.code);
    std::error_code ignored;
    if (!options_.filesDir.empty()) std::filesystem::create_directories(options_.filesDir, ignored);
}

std::string SimulatedEquinox::file(const std::string& name) const {
    const auto found = files_.find(name);
    return found == files_.end() ? std::string() : found->second;
}

std::vector<std::string> SimulatedEquinox::fileNames() const {
    std::vector<std::string> names;
    for (const auto& [name, data] : files_) names.push_back(name);
    return names;
}

EquinoxAnswer SimulatedEquinox::handle(const std::string& text) {
    if (text.compare(0, 3, "PL5") == 0) return chunk(text);
    if (text == "T") return typeQuery();

    EquinoxAnswer answer;
    closeTransfer(shown(text) + " came first", answer.violations);
    EquinoxAnswer reply;
    if (text == kIdentityQuery) reply = identity();
    else if (text.compare(0, kVariablePrefix.size(), kVariablePrefix) == 0 && text.size() > kVariablePrefix.size())
        reply = variable(text.substr(kVariablePrefix.size()));
    else if (text == "LALL") reply = deleteAll();
    else {
        reply.log = "?? unknown message " + shown(text) + " acknowledged, not answered";
        reply.violations.push_back("unknown message " + shown(text) +
                                   " (known: \"T\", \"F\"<FS>\"MVY\", \"v\"<FS>\"GV\"<FS>\"VN\"NAME, \"LALL\", \"PL5\")");
    }
    reply.violations.insert(reply.violations.begin(), answer.violations.begin(), answer.violations.end());
    return reply;
}

EquinoxAnswer SimulatedEquinox::typeQuery() {
    EquinoxAnswer answer;
    if (transferOpen_ && asked_ && wanted_.empty() && !assembly_.active() && !faultInTransfer_) {
        // The loader sends nothing for an empty file; it is the last one, so it
        // waits for the restart now.
        const std::string name = *asked_;
        asked_.reset();
        transferOpen_ = false;
        faultInTransfer_ = false;
        arrivals_.push_back(name);
        store(name, {});
        answer.log = "T came while " + shown(name) + ", the list's last name, was asked for: taken as an empty file, " +
                     "all files in";
        answer.restart = true;
        answer.againAfterRestart = true;
        return answer;
    }
    closeTransfer("\"T\" came first", answer.violations);
    const std::string letter = options_.typeLetter.value_or("");
    answer.replies = {"T" + letter};
    answer.log = "T type query: " + shown(letter);
    return answer;
}

EquinoxAnswer SimulatedEquinox::identity() const {
    EquinoxAnswer answer;
    answer.replies = {"F" + options_.appVersion + kFs + "MV" + options_.configVersion + kFs + options_.serialNumber +
                      kFs + options_.oemId + kFs + "L5300"};
    answer.log = "F identity: application " + shown(options_.appVersion) + ", MV " + shown(options_.configVersion) +
                 ", OEM " + shown(options_.oemId);
    return answer;
}

EquinoxAnswer SimulatedEquinox::variable(const std::string& name) const {
    std::optional<std::string> value;
    if (name == "KeyCheckSum.M.019") value = options_.keyCheckSum;
    else if (name == "KeyKsn.6") value = options_.panKsn;
    else if (name == "KeyKsn.12") value = options_.pinKsn;
    EquinoxAnswer answer;
    answer.segmentable = true;
    answer.replies = {kVariablePrefix + name + (value ? kFs + std::string("VV") + *value : std::string())};
    answer.log = "v get " + shown(name) + " -> " + (value ? shown(*value) : std::string("not held"));
    return answer;
}

EquinoxAnswer SimulatedEquinox::deleteAll() {
    EquinoxAnswer answer;
    const size_t count = files_.size();
    for (const auto& [name, data] : files_) {
        std::error_code ignored;
        if (!options_.filesDir.empty()) std::filesystem::remove(fileLocation(name), ignored);
    }
    files_.clear();
    faultInTransfer_ = false;
    deletedSinceList_ = true;
    answer.log = "LALL delete all files: " + std::to_string(count) + " deleted";
    return answer;
}

EquinoxAnswer SimulatedEquinox::chunk(const std::string& text) {
    EquinoxAnswer answer;
    const ChunkAssembly::Step step = assembly_.take(text, answer.violations);
    switch (step) {
    case ChunkAssembly::Step::refused: answer.log = "PL5 chunk refused, nothing taken"; break;
    case ChunkAssembly::Step::taken:
        if (assembly_.chunks() == 1) answer.log = "PL5 receiving " + shown(assembly_.name());
        else if (options_.verbose)
            answer.log = "PL5 " + shown(assembly_.name()) + " chunk " + std::to_string(assembly_.chunks()) +
                         ": Y, " + std::to_string(assembly_.lastLength()) + " bytes";
        break;
    case ChunkAssembly::Step::complete: {
        EquinoxAnswer arrived = fileArrived(assembly_.name(), assembly_.data(), assembly_.chunks());
        answer.violations.insert(answer.violations.end(), arrived.violations.begin(), arrived.violations.end());
        arrived.violations = std::move(answer.violations);
        return arrived;
    }
    }
    return answer;
}

EquinoxAnswer SimulatedEquinox::fileArrived(const std::string& name, const std::string& data, int chunks) {
    if (name == kPackingList) return packingList(data, chunks);
    EquinoxAnswer answer;
    arrivals_.push_back(name);
    store(name, data);
    answer.log = "PL5 " + shown(name) + ", " + std::to_string(data.size()) + " bytes in " + chunkCount(chunks) +
                 " stored" + (options_.filesDir.empty() ? std::string() : " -> " + fileLocation(name));
    if (!transferOpen_) {
        answer.violations.push_back("file " + shown(name) + " arrived unrequested: no packing list came before it");
        return answer;
    }
    if (!asked_ || *asked_ != name) {
        answer.violations.push_back("file " + shown(name) + " arrived unrequested: " +
                                    (asked_ ? shown(*asked_) + " was asked for" : std::string("nothing was asked for")));
        if (asked_) {
            answer.replies = {"R" + *asked_};
            answer.segmentable = true;
            answer.log += "; asking for " + shown(*asked_) + " again";
        }
        return answer;
    }
    asked_.reset();
    requestNext(answer);
    return answer;
}

EquinoxAnswer SimulatedEquinox::packingList(const std::string& data, int chunks) {
    EquinoxAnswer answer;
    closeTransfer("a new packing list came first", answer.violations);
    if (!deletedSinceList_) answer.violations.push_back("a packing list without \"LALL\" before it");
    deletedSinceList_ = false;
    ++transfers_;
    arrivals_.push_back(kPackingList);
    store(kPackingList, data);

    std::vector<std::string> names;
    std::set<std::string> seen;
    int blankLines = 0;
    size_t start = 0;
    bool unterminated = false;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) {
            end = data.size();
            unterminated = true;
        }
        std::string line = data.substr(start, end - start);
        start = end + 1;
        if (!unterminated && !line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            ++blankLines;
            continue;
        }
        if (line == kPackingList) {
            answer.violations.push_back("the packing list names PACKINGLIST itself");
            continue;
        }
        if (!seen.insert(line).second) {
            answer.violations.push_back("the packing list names " + shown(line) + " twice; asked for once");
            continue;
        }
        if (line.size() > ChunkAssembly::kMaxName)
            answer.violations.push_back("the packing list names " + shown(line) +
                                        ", longer than a bundle entry's 40 bytes");
        names.push_back(line);
    }
    answer.log = "PL5 PACKINGLIST, " + std::to_string(data.size()) + " bytes in " + chunkCount(chunks) + ": " +
                 std::to_string(names.size()) + (names.size() == 1 ? " name" : " names") + " (transfer " +
                 std::to_string(transfers_) + ")";
    if (blankLines > 0) answer.log += ", " + std::to_string(blankLines) + " blank lines skipped";
    if (unterminated) answer.log += ", the last line without LF";

    transferOpen_ = true;
    wanted_.assign(names.begin(), names.end());
    if (names.empty()) {
        // Nothing to ask for, yet the loader waits for an answer to the list.
        transferOpen_ = false;
        answer.replies = {"R"};
        answer.segmentable = true;
        answer.restart = true;
        answer.log += "; nothing to ask for: answered \"R\" alone";
        return answer;
    }
    requestNext(answer);
    return answer;
}

void SimulatedEquinox::requestNext(EquinoxAnswer& answer) {
    if (!unknownRequests_.empty()) {
        asked_ = unknownRequests_.front();
        unknownRequests_.erase(unknownRequests_.begin());
        faultInTransfer_ = true;
        answer.replies = {"R" + *asked_};
        answer.segmentable = true;
        answer.log += "; fault unknown-request: asking for " + shown(*asked_);
        return;
    }
    if (!wanted_.empty()) {
        asked_ = wanted_.front();
        wanted_.pop_front();
        answer.replies = {"R" + *asked_};
        answer.segmentable = true;
        answer.log += "; asking for " + shown(*asked_);
        return;
    }
    transferOpen_ = false;
    faultInTransfer_ = false;
    answer.restart = true;
    answer.log += "; all files in";
}

void SimulatedEquinox::closeTransfer(const std::string& why, std::vector<std::string>& violations) {
    const std::string cut = assembly_.abandon();
    if (!cut.empty() && !faultInTransfer_)
        violations.push_back("file " + shown(cut) + " cut short: " + why + " before its \"N\" chunk");
    if (transferOpen_ && !faultInTransfer_) {
        if (asked_) violations.push_back("file " + shown(*asked_) + " was asked for and never arrived (" + why + ")");
        for (const std::string& name : wanted_)
            violations.push_back("packing list name " + shown(name) + " never asked for: the transfer ended (" + why +
                                 ")");
    }
    // A fault that struck before this transfer began (on its packing list, say) still counts for it.
    if (transferOpen_ || !cut.empty()) faultInTransfer_ = false;
    transferOpen_ = false;
    wanted_.clear();
    asked_.reset();
}

std::vector<std::string> SimulatedEquinox::finish() {
    std::vector<std::string> violations;
    closeTransfer("the pad was stopped", violations);
    return violations;
}

std::string SimulatedEquinox::fileLocation(const std::string& name) const {
    return options_.filesDir + "/" + safeFileName(name);
}

void SimulatedEquinox::store(const std::string& name, const std::string& data) {
    files_[name] = data;
    if (!options_.filesDir.empty()) writeAtomically(fileLocation(name), data);
    if (!options_.transfersDir.empty()) {
        const std::string folder = options_.transfersDir + "/" + std::to_string(transfers_);
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        writeAtomically(folder + "/" + safeFileName(name), data);
    }
}

}  // namespace korvane::padsim
