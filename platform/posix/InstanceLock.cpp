#include "platform/InstanceLock.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace korvane {

struct InstanceLock::Holder {
    int fd = -1;
};

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() { release(); }

std::string InstanceLock::lockFilePath() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = (runtimeDir != nullptr && *runtimeDir != '\0') ? runtimeDir : "/tmp";
    return dir + "/" + kLockName;
}

bool InstanceLock::acquire() {
    if (held()) return true;
    const int fd = ::open(lockFilePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    holder_ = std::make_unique<Holder>(Holder{fd});
    return true;
}

void InstanceLock::release() {
    if (!held()) return;
    ::flock(holder_->fd, LOCK_UN);
    ::close(holder_->fd);
    holder_.reset();
}

}  // namespace korvane
