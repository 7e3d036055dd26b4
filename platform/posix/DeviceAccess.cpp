#include "platform/DeviceAccess.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvane {
namespace {

std::mutex refusalsLock;
std::map<std::string, int>& refusals() {
    static std::map<std::string, int> refused;
    return refused;
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

// Where a path leads: the device, or for a link to nothing what it names.
std::string leadsTo(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) != nullptr) return buffer;
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : path;
}

int refusedError(const std::string& path) {
    std::lock_guard<std::mutex> guard(refusalsLock);
    if (refusals().empty()) return 0;
    const auto found = refusals().find(resolved(path));
    return found != refusals().end() ? found->second : 0;
}

std::string userName() {
    const passwd* user = ::getpwuid(::geteuid());
    return user != nullptr ? std::string(user->pw_name) : std::to_string(::geteuid());
}

std::string groupName(gid_t group) {
    const struct group* entry = ::getgrgid(group);
    return entry != nullptr ? std::string(entry->gr_name) : std::to_string(group);
}

bool processHasGroup(gid_t group) {
    if (::getegid() == group) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = ::getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i)
        if (groups[static_cast<std::size_t>(i)] == group) return true;
    return false;
}

// The group database may list the user in the group although this session
// started before the user joined it.
bool userListedInGroup(gid_t group) {
    const struct group* entry = ::getgrgid(group);
    if (entry == nullptr || entry->gr_mem == nullptr) return false;
    const std::string user = userName();
    for (char** member = entry->gr_mem; *member != nullptr; ++member)
        if (user == *member) return true;
    return false;
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string permissionRemedy(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return {};
    const std::string group = groupName(info.st_gid);
    const std::string user = userName();
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        return "the device's mode " + modeText(info.st_mode) + " gives its group \"" + group +
               "\" no read and write access; have the administrator give it to the serial group (on Debian a udev "
               "rule with GROUP=\"dialout\", MODE=\"0660\")";
    }
    if (processHasGroup(info.st_gid)) {
        return "this user is in group \"" + group + "\", which may use the device, yet was refused: look for an "
               "access control list or security policy on it (getfacl " + device + ")";
    }
    if (userListedInGroup(info.st_gid)) {
        return "user \"" + user + "\" is in group \"" + group +
               "\", which owns the device, but this session started before that: log out and in again";
    }
    return "add user \"" + user + "\" to group \"" + group + "\", which owns the device (\"dialout\" on Debian): "
           "sudo usermod -aG " + group + " " + user + ", then log out and in again";
}

}  // namespace

DeviceAccessProblem describeDeviceAccessProblem(const std::string& devicePath, int error) {
    DeviceAccessProblem problem;
    problem.devicePath = devicePath;
    problem.device = leadsTo(devicePath);
    problem.error = error;
    problem.reason = std::strerror(error);
    switch (error) {
    case EACCES:
    case EPERM: problem.remedy = permissionRemedy(problem.device); break;
    case ENOENT:
    case ENXIO:
    case ENODEV:
        problem.remedy = "the device is not there: check that the pad is plugged in and powered; `korvane-load ports` "
                         "lists the serial devices present";
        break;
    case ENOTTY:
        problem.remedy = "this is no serial device: point the comN entry at the pad's device (`korvane-load ports` "
                         "lists the serial devices present)";
        break;
    case EBUSY:
    case EWOULDBLOCK:
        problem.remedy = "another program holds the device; close it (`fuser " + problem.device + "` shows which)";
        break;
    default: break;
    }
    return problem;
}

int openDeviceNode(const std::string& path, int flags) {
    if (const int error = refusedError(path); error != 0) {
        errno = error;
        return -1;
    }
    return ::open(path.c_str(), flags);
}

int deviceAccessError(const std::string& path) {
    if (const int error = refusedError(path); error != 0) return error;
    return ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

void setDeviceRefusedForTesting(const std::string& path, int error) {
    std::lock_guard<std::mutex> guard(refusalsLock);
    if (error == 0) {
        refusals().erase(resolved(path));
    } else {
        refusals()[resolved(path)] = error;
    }
}

}  // namespace korvane
