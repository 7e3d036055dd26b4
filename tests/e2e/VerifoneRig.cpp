#include "tests/e2e/VerifoneRig.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace korvane::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

}  // namespace

PadSetup verifonePad(const std::string& model, std::vector<std::string> faults) {
    PadSetup pad;
    pad.model = model;
    pad.appVersion = "31504";
    pad.faults = std::move(faults);
    return pad;
}

StandInRecord::StandInRecord() = default;

void StandInRecord::attach(LoadRig& rig, const TempDir& work) const {
    const char* path = std::getenv("PATH");
    rig.loadDirectory = work.path();
    rig.loadEnv["PATH"] = std::string(KORVANE_DDL_DIR) + ":" + (path != nullptr ? path : "/usr/bin:/bin");
    rig.loadEnv["KORVANE_DDL_RECORD"] = folder_.file("runs");
}

void StandInRecord::clear() const { fs::remove_all(folder_.file("runs")); }

std::vector<StandInRun> StandInRecord::runs() const {
    std::vector<StandInRun> runs;
    const std::string root = folder_.file("runs");
    if (!fs::exists(root)) return runs;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        runs.push_back({linesOf(name + "/arguments"), linesOf(name + "/files"), fs::exists(name + "/ended")});
    return runs;
}

std::vector<std::string> bundleFileLines(const std::string& bundle) {
    std::map<std::string, std::string> files;
    size_t at = 0;
    while (at + 8 <= bundle.size()) {
        const size_t length = std::stoul(bundle.substr(at, 8));
        const std::string entry = bundle.substr(at + 8, length);
        std::string name = entry.substr(0, 40);
        name.erase(name.find_last_not_of(' ') + 1);
        files[name] = entry.size() > 40 ? entry.substr(40) : std::string();
        at += 8 + length;
    }
    std::vector<std::string> lines;
    for (const auto& [name, data] : files)
        lines.push_back(name + " " + std::to_string(data.size()) + " 600 " + sha256Hex(data));
    return lines;
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace korvane::test
