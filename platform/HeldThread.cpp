#include "platform/HeldThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace korvane {
namespace {
std::atomic<bool> creationFails{false};
}  // namespace

struct HeldThread::State {
    std::mutex lock;
    std::condition_variable changed;
    bool held = true;
    bool abandoned = false;
    bool ended = false;
    std::thread thread;
};

void HeldThread::setCreationFailsForTesting(bool fails) { creationFails = fails; }

bool HeldThread::create(std::function<void()> body) {
    if (state_ || creationFails) return false;
    auto state = std::make_shared<State>();
    try {
        state->thread = std::thread([state, body = std::move(body)] {
            bool run = false;
            {
                std::unique_lock<std::mutex> guard(state->lock);
                state->changed.wait(guard, [&] { return !state->held || state->abandoned; });
                run = !state->abandoned;
            }
            if (run) body();
            std::lock_guard<std::mutex> guard(state->lock);
            state->ended = true;
            state->changed.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = std::move(state);
    return true;
}

int HeldThread::release() {
    if (!state_) return 0;
    std::lock_guard<std::mutex> guard(state_->lock);
    if (!state_->held) return 0;
    state_->held = false;
    state_->changed.notify_all();
    return 1;
}

bool HeldThread::waitForEnd(uint32_t timeoutMs) {
    if (!state_) return true;
    std::unique_lock<std::mutex> guard(state_->lock);
    return state_->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return state_->ended; });
}

HeldThread::~HeldThread() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        if (state_->held) state_->abandoned = true;
        state_->changed.notify_all();
    }
    if (state_->thread.joinable()) state_->thread.join();
}

}  // namespace korvane
