#include "tools/ddl-standin/DdlStandIn.h"

#include "platform/TimingTable.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace korvane::ddlstandin {
namespace {

constexpr long kDefaultRunMs = 60000;  // longer than either shortest successful run
constexpr const char* kRecordEnv = "KORVANE_DDL_RECORD";
constexpr const char* kRunMsEnv = "KORVANE_DDL_RUN_MS";
constexpr const char* kExitEnv = "KORVANE_DDL_EXIT";
constexpr int kUsageExit = 2;

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
}

std::string sha256Of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

std::string octal(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%o", mode & 07777u);
    return text;
}

// A new folder RECORD/run-NNN for this run.
std::string newRunFolder(const std::string& record) {
    ::mkdir(record.c_str(), 0700);
    for (int number = 1; number < 1000; ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "run-%03d", number);
        const std::string folder = record + "/" + name;
        if (::mkdir(folder.c_str(), 0700) == 0) return folder;
        if (errno != EEXIST) break;
    }
    return {};
}

void writeLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
}

}  // namespace

Invocation readInvocation(const std::vector<std::string>& arguments) {
    Invocation invocation;
    auto& bad = invocation.violations;
    if (arguments.size() != 4) bad.push_back("expected 4 arguments, got " + std::to_string(arguments.size()));
    const auto at = [&](size_t index) { return index < arguments.size() ? arguments[index] : std::string(); };

    const std::string port = at(0);
    if (port.rfind("-p", 0) != 0 || !allDigits(port.substr(2))) {
        bad.push_back("argument 1 is not -pN: \"" + port + "\"");
    } else {
        invocation.port = std::atoi(port.c_str() + 2);
        if (invocation.port < 1 || invocation.port > 255) bad.push_back("port " + port.substr(2) + " is not 1 to 255");
    }
    if (at(1) != "-b115200") bad.push_back("argument 2 is not -b115200: \"" + at(1) + "\"");
    if (at(2) != "-k7") bad.push_back("argument 3 is not -k7: \"" + at(2) + "\"");

    const std::string file = at(3);
    if (file.rfind("-f", 0) == 0) {
        invocation.fileName = file.substr(2);
        if (invocation.fileName != "EvoloadSerial.dld" && invocation.fileName != "EvoloadUSB.dld")
            bad.push_back("-f names neither EvoloadSerial.dld nor EvoloadUSB.dld: \"" + invocation.fileName + "\"");
    } else if (file.rfind("-i", 0) == 0) {
        invocation.fileName = file.substr(2);
        invocation.archive = true;
        if (invocation.fileName.empty()) bad.push_back("-i names no archive");
    } else {
        bad.push_back("argument 4 is neither -fFILE nor -iARCHIVE: \"" + file + "\"");
    }
    return invocation;
}

std::optional<long> pickSetting(const std::string& setting, const std::vector<std::string>& arguments) {
    std::optional<long> chosen;
    std::optional<long> fallback;
    std::stringstream items(setting);
    for (std::string item; std::getline(items, item, ',');) {
        const size_t equals = item.rfind('=');
        const std::string value = equals == std::string::npos ? item : item.substr(equals + 1);
        if (!allDigits(value)) return std::nullopt;
        if (equals == std::string::npos) {
            fallback = std::atol(value.c_str());
        } else if (std::find(arguments.begin(), arguments.end(), item.substr(0, equals)) != arguments.end()) {
            chosen = std::atol(value.c_str());
        }
    }
    return chosen ? chosen : fallback;
}

std::vector<std::string> describeFiles(const std::string& folder) {
    std::vector<std::string> lines;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return lines;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string path = folder + "/" + entry->d_name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        lines.push_back(std::string(entry->d_name) + " " + std::to_string(info.st_size) + " " +
                        octal(info.st_mode) + " " + sha256Of(path));
    }
    ::closedir(directory);
    std::sort(lines.begin(), lines.end());
    return lines;
}

int run(const std::vector<std::string>& arguments) {
    Invocation invocation = readInvocation(arguments);
    if (!invocation.fileName.empty() && ::access(invocation.fileName.c_str(), F_OK) != 0)
        invocation.violations.push_back("the named file " + invocation.fileName +
                                        " is not in the working directory");

    const char* runSetting = std::getenv(kRunMsEnv);
    const char* exitSetting = std::getenv(kExitEnv);
    const std::optional<long> runMs = runSetting ? pickSetting(runSetting, arguments) : kDefaultRunMs;
    const std::optional<long> exitCode = exitSetting ? pickSetting(exitSetting, arguments) : 0L;
    if (!runMs) invocation.violations.push_back(std::string(kRunMsEnv) + " is not MS[,ARGUMENT=MS...]");
    if (!exitCode) invocation.violations.push_back(std::string(kExitEnv) + " is not CODE[,ARGUMENT=CODE...]");

    std::string folder;
    if (const char* record = std::getenv(kRecordEnv); record != nullptr && *record != '\0') {
        folder = newRunFolder(record);
        if (folder.empty()) std::fprintf(stderr, "ddl.exe (stand-in): cannot record into %s\n", record);
    }
    if (!folder.empty()) {
        writeLines(folder + "/arguments", arguments);
        writeLines(folder + "/files", describeFiles("."));
        writeLines(folder + "/violations", invocation.violations);
    }
    for (const std::string& violation : invocation.violations)
        std::fprintf(stderr, "ddl.exe (stand-in): violation: %s\n", violation.c_str());
    if (!invocation.violations.empty()) return kUsageExit;

    const uint32_t waitMs = procedureWait(static_cast<uint32_t>(*runMs));
    std::fprintf(stderr, "ddl.exe (stand-in): loading %s on port %d for %u ms\n", invocation.fileName.c_str(),
                 invocation.port, waitMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    if (!folder.empty()) writeLines(folder + "/ended", {"exit " + std::to_string(*exitCode)});
    return static_cast<int>(*exitCode);
}

}  // namespace korvane::ddlstandin
