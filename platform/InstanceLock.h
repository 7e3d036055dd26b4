#pragma once

#include <string>

namespace korvane {

// One copy of the loader per desktop: an advisory lock on a file named after
// the original's mutex, in $XDG_RUNTIME_DIR (else /tmp). The kernel drops the
// lock when its holder ends, so a crashed copy never blocks the next start.
class InstanceLock {
public:
    static constexpr const char* kLockName = "KorvaneOlbrekFieldLoaderMutex";

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock or the file cannot be made.
    bool acquire();
    void release();
    bool held() const { return fd_ >= 0; }

    // Where the lock file lives for this environment.
    static std::string lockFilePath();

private:
    int fd_ = -1;
};

}  // namespace korvane
