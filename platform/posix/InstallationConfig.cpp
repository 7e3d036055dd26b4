#include "platform/InstallationConfig.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace korvane {

std::string defaultInstallationConfigPath() { return "/etc/korvane-field-loader/loader.conf"; }

std::string defaultInstallationConfigPathForHelp() { return defaultInstallationConfigPath(); }

std::string installationConfigEnvForHelp() { return std::string("$") + kInstallationConfigEnv; }

InstallationConfigResult loadInstallationConfig(const std::string& path) {
    InstallationConfigResult failed;
    failed.path = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        failed.error = "Installation configuration " + path + " cannot be read: " + std::strerror(errno);
        return failed;
    }
    if (!S_ISREG(info.st_mode)) {
        failed.error = "Installation configuration " + path + " is not a regular file";
        return failed;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        // An empty file also lands here; it has no keys either way.
        if (info.st_size != 0) {
            failed.error = "Installation configuration " + path + " cannot be read: " + std::strerror(errno ? errno : EACCES);
            return failed;
        }
    }
    InstallationConfigResult result = parseInstallationConfig(text.str(), path);
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        result.warnings.push_back("Installation configuration " + path +
                                  " may be read by other users; it holds the challenge secret (chmod 600 " + path +
                                  ")");
    }
    return result;
}

}  // namespace korvane
