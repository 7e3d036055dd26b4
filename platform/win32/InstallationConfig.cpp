#include "platform/InstallationConfig.h"

#include "platform/SystemErrorText.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <windows.h>

namespace korvane {

std::string defaultInstallationConfigPath() {
    const char* programData = std::getenv("ProgramData");
    const std::string folder = programData != nullptr && *programData != '\0' ? programData : "C:\\ProgramData";
    return folder + "\\KorvaneFieldLoader\\loader.conf";
}

std::string defaultInstallationConfigPathForHelp() { return "%ProgramData%\\KorvaneFieldLoader\\loader.conf"; }

std::string installationConfigEnvForHelp() { return std::string("%") + kInstallationConfigEnv + "%"; }

// The folder's access rules guard the secret on Windows; there are no mode
// bits to warn about.
InstallationConfigResult loadInstallationConfig(const std::string& path) {
    InstallationConfigResult failed;
    failed.path = path;
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) {
        failed.error =
            "Installation configuration " + path + " cannot be read: " + systemErrorText(static_cast<int>(GetLastError()));
        return failed;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        failed.error = "Installation configuration " + path + " is not a regular file";
        return failed;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        // An empty file also lands here; it has no keys either way.
        if (info.nFileSizeLow != 0 || info.nFileSizeHigh != 0) {
            failed.error = "Installation configuration " + path + " cannot be read";
            return failed;
        }
    }
    return parseInstallationConfig(text.str(), path);
}

}  // namespace korvane
