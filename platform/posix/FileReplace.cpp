#include "platform/FileReplace.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
    std::string temporary = directoryOf(path) + "/.korvane-replace.XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const bool complete = written == bytes.size() && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!complete || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace korvane
