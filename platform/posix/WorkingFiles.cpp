#include "platform/WorkingFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool removeFile(const std::string& name) { return ::unlink(name.c_str()) == 0 || errno == ENOENT; }

bool fileExists(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0;
}

bool readWholeFile(const std::string& name, std::vector<uint8_t>& data, std::string& errorText) {
    data.clear();
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorText = std::strerror(errno);
        return false;
    }
    uint8_t buffer[65536];
    while (true) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            errorText = std::strerror(errno);
            ::close(fd);
            data.clear();
            return false;
        }
        if (count == 0) break;
        data.insert(data.end(), buffer, buffer + count);
    }
    ::close(fd);
    return true;
}

bool writePrivateFile(const std::string& name, std::span<const uint8_t> data, std::string& errorText) {
    if (!isPlainFileName(name)) {
        errorText = "The name is not a plain file name.";
        return false;
    }
    if (!removeFile(name)) {
        errorText = std::strerror(errno);
        return false;
    }
    // O_EXCL with O_CREAT also refuses a symbolic link put in the name's place meanwhile.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        errorText = std::strerror(errno);
        return false;
    }
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t count = ::write(fd, data.data() + written, data.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            errorText = count < 0 ? std::strerror(errno) : "Nothing could be written.";
            ::close(fd);
            ::unlink(name.c_str());
            return false;
        }
        written += static_cast<size_t>(count);
    }
    if (::close(fd) != 0) {
        errorText = std::strerror(errno);
        ::unlink(name.c_str());
        return false;
    }
    return true;
}

}  // namespace korvane
