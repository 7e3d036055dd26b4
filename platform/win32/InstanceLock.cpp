#include "platform/InstanceLock.h"

#include <windows.h>

namespace korvane {

struct InstanceLock::Holder {
    HANDLE mutex = nullptr;
};

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() { release(); }

std::string InstanceLock::lockFilePath() { return kLockName; }

bool InstanceLock::acquire() {
    if (held()) return true;
    // The mutex is never owned: that it exists is the lock, and the system
    // removes it with the last handle, also when the holder crashes.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kLockName);
    if (mutex == nullptr) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    holder_ = std::make_unique<Holder>(Holder{mutex});
    return true;
}

void InstanceLock::release() {
    if (!held()) return;
    CloseHandle(holder_->mutex);
    holder_.reset();
}

}  // namespace korvane
