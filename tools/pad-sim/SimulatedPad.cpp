#include "tools/pad-sim/SimulatedPad.h"

#include "tools/common/CommandArguments.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace korvane::padsim {
namespace {

constexpr char kFs = 0x1C;
constexpr char kGs = 0x1D;
constexpr char kAppMarker[] = "RBA_APP_VERSION=";
constexpr char kConfigMarker[] = "RBA_CONFIG_VERSION=";
constexpr size_t kMaxVersionLength = 32;

using tools::isDecimalNumber;

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// The version after `marker`, or empty when the data carries none.
std::string markedVersion(const std::string& data, const char* marker) {
    const size_t at = data.find(marker);
    if (at == std::string::npos) return {};
    std::string version;
    for (size_t i = at + std::char_traits<char>::length(marker); i < data.size() && version.size() < kMaxVersionLength;
         ++i) {
        const char c = data[i];
        const bool allowed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             c == '.' || c == '_' || c == '-';
        if (!allowed) break;
        version += c;
    }
    return version;
}

}  // namespace

std::string safeFileName(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "_";
    return name;
}

void writeAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) return;
    }
    std::error_code ignored;
    std::filesystem::rename(temporary, path, ignored);
}

std::string printable(const std::string& text, size_t limit) {
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (shown.size() >= limit) {
            shown += "...";
            break;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == static_cast<unsigned char>(kFs)) shown += "<FS>";
        else if (byte == static_cast<unsigned char>(kGs)) shown += "<GS>";
        else if (byte >= 0x20 && byte < 0x7F) shown += static_cast<char>(byte);
        else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "<%02x>", byte);
            shown += hex;
        }
    }
    return shown;
}

SimulatedPad::SimulatedPad(const PadSimOptions& options)
    : options_(options), appVersion_(options.appVersion), configVersion_(options.configVersion) {
    for (const auto& [name, value] : options.parameters) {
        const auto dot = name.find('.');
        parameters_[{std::atol(name.substr(0, dot).c_str()), std::atol(name.substr(dot + 1).c_str())}] = value;
    }
    for (const PadFault& fault : options.faults) {
        if (fault.kind != PadFault::Kind::refuseFile) continue;
        refusalsLeft_ += fault.count;
        refusalCode_ = fault.code;
    }
    if (options_.parametersFile.empty() && !options_.filesDir.empty())
        options_.parametersFile = options_.filesDir + "/parameters.txt";
    if (!options_.filesDir.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(options_.filesDir, ignored);
    }
    writeParameters();
}

std::string SimulatedPad::parameterKey(const std::string& group, const std::string& index) {
    if (!isDecimalNumber(group) || !isDecimalNumber(index)) return {};
    return std::to_string(std::atol(group.c_str())) + "." + std::to_string(std::atol(index.c_str()));
}

std::string SimulatedPad::parameter(const std::string& key) const {
    const auto dot = key.find('.');
    if (dot == std::string::npos) return {};
    const auto found =
        parameters_.find({std::atol(key.substr(0, dot).c_str()), std::atol(key.substr(dot + 1).c_str())});
    return found == parameters_.end() ? std::string() : found->second;
}

std::string SimulatedPad::parameterListing() const {
    std::string listing;
    for (const auto& [key, value] : parameters_)
        listing += std::to_string(key.first) + "." + std::to_string(key.second) + "=" + value + "\n";
    return listing;
}

std::string SimulatedPad::file(const std::string& name) const {
    const auto found = files_.find(name);
    return found == files_.end() ? std::string() : found->second;
}

std::string SimulatedPad::reportedModel() const {
    if (!options_.modelSuffix.empty() && parameter("13.23") == "1") return options_.model + "-" + options_.modelSuffix;
    return options_.model;
}

void SimulatedPad::writeParameters() const {
    if (!options_.parametersFile.empty()) writeAtomically(options_.parametersFile, parameterListing());
}

PadAnswer SimulatedPad::handle(const std::string& text) {
    const std::string number = text.substr(0, 3);
    if (number == "07.") return identify();
    if (number == "00.") return {{"00.0000"}, 0, 0, "00. reset"};
    if (number == "61.") return getParameter(text);
    if (number == "60.") return setParameters(text);
    if (number == "29.") return keyCheck();
    if (number == "62.") return fileBlock(text);
    if (number == "24.") {
        const size_t fs = text.find(kFs);
        return {{}, 0, 0, "24. prompt \"" + printable(fs == std::string::npos ? text : text.substr(fs + 1)) + "\""};
    }
    if (number == "97.") {
        return {{}, 0, options_.rebootMs, "97. reboot: silent for " + std::to_string(options_.rebootMs) + " ms"};
    }
    return {{}, 0, 0, "?? unknown message \"" + printable(text) + "\" acknowledged, not answered"};
}

PadAnswer SimulatedPad::identify() const {
    const std::string model = reportedModel();
    const std::string fields[] = {
        "07." + options_.manufacturer, model, options_.serialNumber, "HW01", "OS1002", "EMV43", "BOOT0110",
        "PCI",  appVersion_, options_.rbaVersion, configVersion_, "SRED", "FORMS", options_.oemId, "SIM",
    };
    std::string reply;
    for (const std::string& field : fields) {
        if (!reply.empty()) reply += kFs;
        reply += field;
    }
    return {{reply}, 0, 0, "07. identify: model " + model + ", application " + appVersion_};
}

PadAnswer SimulatedPad::getParameter(const std::string& text) const {
    const std::vector<std::string> parts = split(text.substr(3), kGs);
    const std::string key = parts.size() == 2 ? parameterKey(parts[0], parts[1]) : std::string();
    if (key.empty()) return {{"61.9"}, 0, 0, "61. get: malformed \"" + printable(text) + "\""};
    const std::string value = parameter(key);
    return {{"61.2" + parts[0] + kGs + parts[1] + kGs + value}, 0, 0, "61. get " + key + " -> \"" + printable(value) + "\""};
}

PadAnswer SimulatedPad::setParameters(const std::string& text) {
    std::vector<std::pair<std::pair<long, long>, std::string>> changes;
    std::string shown;
    for (const std::string& record : split(text.substr(3), kFs)) {
        const std::vector<std::string> parts = split(record, kGs);
        const std::string key = parts.size() == 3 ? parameterKey(parts[0], parts[1]) : std::string();
        if (key.empty()) return {{"60.9"}, 0, 0, "60. set: malformed \"" + printable(text) + "\", nothing stored"};
        changes.push_back({{std::atol(parts[0].c_str()), std::atol(parts[1].c_str())}, parts[2]});
        shown += " " + key + "=\"" + printable(parts[2]) + "\"";
    }
    for (const auto& [key, value] : changes) parameters_[key] = value;
    writeParameters();
    return {{"60.2"}, 0, 0, "60. set" + shown};
}

PadAnswer SimulatedPad::keyCheck() const {
    std::string reply = "29.20000810";
    if (options_.pinKsn) reply += std::string(1, kFs) + "KSN_0=" + *options_.pinKsn;
    if (options_.panKsn) reply += std::string(1, kFs) + "KSN_4=" + *options_.panKsn;
    return {{reply}, 0, 0,
            "29. key check: KSN_0 " + (options_.pinKsn ? *options_.pinKsn : std::string("none")) + ", KSN_4 " +
                (options_.panKsn ? *options_.panKsn : std::string("none"))};
}

PadAnswer SimulatedPad::fileBlock(const std::string& text) {
    const FileAssembly::Step step = download_.take(text);
    const bool ends = FileAssembly::endsFile(text);
    switch (step) {
    case FileAssembly::Step::duplicate:
        return {{}, 0, 0, options_.verbose ? "62. block sent again, ignored" : std::string()};
    case FileAssembly::Step::error:
        return {ends ? std::vector<std::string>{"62.9"} : std::vector<std::string>{}, 0, 0,
                "62. download broken: " + download_.error() + (ends ? ", answered 62.9" : "")};
    case FileAssembly::Step::taken: {
        std::string line;
        if (download_.blocks() == 1)
            line = "62. receiving " + printable(download_.name()) + (download_.packageFlag() ? " (OGZ package)" : "");
        else if (options_.verbose)
            line = "62. " + printable(download_.name()) + " block " + std::to_string(download_.blocks()) +
                   " (sequence " + std::to_string(download_.lastSequence()) + ")";
        return {{}, 0, 0, line};
    }
    case FileAssembly::Step::complete: return fileComplete();
    }
    return {};
}

PadAnswer SimulatedPad::fileComplete() {
    ++filesReceived_;
    const std::string& name = download_.name();
    const std::string& data = download_.data();
    const std::string summary = printable(name) + ", " + std::to_string(data.size()) + " bytes in " +
                                std::to_string(download_.blocks()) + " blocks";
    if (refusalsLeft_ > 0) {
        --refusalsLeft_;
        return {{"62." + refusalCode_}, 0, 0, "62. " + summary + ": refused with 62." + refusalCode_ + " (fault)"};
    }
    storeFile(name, data);
    std::string where = options_.filesDir.empty() ? std::string() : " -> " + options_.filesDir + "/" + safeFileName(name);
    PadAnswer answer{{"62.0"}, 0, 0, "62. " + summary + " stored" + where};
    const std::string config = markedVersion(data, kConfigMarker);
    if (!config.empty()) {
        configVersion_ = config;
        answer.log += "; configuration version now " + config;
    }
    const std::string app = markedVersion(data, kAppMarker);
    if (!app.empty()) {
        appVersion_ = app;
        answer.delayMs = options_.installMs;
        answer.silentMs = options_.restartMs;
        answer.log += "; installing application " + app + " (" + std::to_string(options_.installMs) +
                      " ms), then restarting (silent " + std::to_string(options_.restartMs) + " ms)";
    }
    return answer;
}

void SimulatedPad::storeFile(const std::string& name, const std::string& data) {
    files_[name] = data;
    if (!options_.filesDir.empty()) writeAtomically(options_.filesDir + "/" + safeFileName(name), data);
}

}  // namespace korvane::padsim
