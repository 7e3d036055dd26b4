#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace korvane {

// A thread created held before its first step and let go by release(), the
// way a load worker is created suspended and then resumed: the caller can
// still give up between the two without the body ever running.
class HeldThread {
public:
    HeldThread() = default;
    // Waits for a released body to end; a body never released never runs.
    ~HeldThread();
    HeldThread(const HeldThread&) = delete;
    HeldThread& operator=(const HeldThread&) = delete;

    // Creates the thread, held. False when the system could not create it.
    bool create(std::function<void()> body);

    // Lets the held thread run. Returns the holds lifted, as a resume reports
    // the previous suspend count: 1 after create, 0 when nothing was held.
    int release();

    // Waits up to `timeoutMs` for the body to return; true once it has.
    // Also true when no thread was created.
    bool waitForEnd(uint32_t timeoutMs);

    // Makes every create() fail as if the system had refused the thread.
    static void setCreationFailsForTesting(bool fails);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace korvane
