#pragma once

#include <memory>
#include <string>

namespace korvane {

// One copy of the loader per desktop: an advisory lock on a file named after
// the original's mutex, in $XDG_RUNTIME_DIR (else /tmp); on Windows the named
// mutex itself. The system drops the lock when its holder ends, so a crashed
// copy never blocks the next start.
class InstanceLock {
public:
    static constexpr const char* kLockName = "KorvaneOlbrekFieldLoaderMutex";

    InstanceLock();
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock or the file cannot be made.
    bool acquire();
    void release();
    bool held() const { return holder_ != nullptr; }

    // Where the lock lives for this environment: the lock file, or on
    // Windows the mutex's name.
    static std::string lockFilePath();

private:
    struct Holder;
    std::unique_ptr<Holder> holder_;
};

}  // namespace korvane
