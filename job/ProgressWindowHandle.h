#pragma once

#include <functional>
#include <memory>

namespace korvane {

// What a load record keeps of its progress window: a small copyable handle
// that any thread may post to. The window opens it with the way to announce
// a new status text and retires it before it goes, so an announcement never
// reaches a window that is gone, and a late one is simply refused.
class ProgressWindowHandle {
public:
    using Announce = std::function<void()>;

    // No window.
    ProgressWindowHandle() = default;
    // A live window; `announce` must not block (it is run on the poster's thread).
    static ProgressWindowHandle open(Announce announce);

    bool isNull() const { return target_ == nullptr; }
    // Not null and not yet retired.
    bool isWindow() const;

    // While the window is sure to stay: runs `first`, then the announcement,
    // and gives true. Gives false, running neither, when it is null or gone.
    bool announceIfAlive(const std::function<void()>& first) const;

    // The window is going. Waits for an announcement under way to finish.
    void retire() const;

    bool operator==(const ProgressWindowHandle& other) const { return target_ == other.target_; }

private:
    struct Target;
    std::shared_ptr<Target> target_;
};

}  // namespace korvane
