#include "job/ProgressWindowHandle.h"

#include <mutex>

namespace korvane {

struct ProgressWindowHandle::Target {
    std::mutex lock;
    bool alive = true;
    Announce announce;
};

ProgressWindowHandle ProgressWindowHandle::open(Announce announce) {
    ProgressWindowHandle handle;
    handle.target_ = std::make_shared<Target>();
    handle.target_->announce = std::move(announce);
    return handle;
}

bool ProgressWindowHandle::isWindow() const {
    if (!target_) return false;
    std::lock_guard<std::mutex> guard(target_->lock);
    return target_->alive;
}

bool ProgressWindowHandle::announceIfAlive(const std::function<void()>& first) const {
    if (!target_) return false;
    std::lock_guard<std::mutex> guard(target_->lock);
    if (!target_->alive) return false;
    if (first) first();
    if (target_->announce) target_->announce();
    return true;
}

void ProgressWindowHandle::retire() const {
    if (!target_) return;
    std::lock_guard<std::mutex> guard(target_->lock);
    target_->alive = false;
    target_->announce = nullptr;
}

}  // namespace korvane
