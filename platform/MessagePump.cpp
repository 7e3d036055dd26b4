#include "platform/MessagePump.h"

#include "platform/Tick.h"

#include <mutex>
#include <thread>

namespace korvane {
namespace {
std::mutex hookLock;
MessagePumpHook installedHook;
std::thread::id hookThread;
}  // namespace

void setMessagePumpHook(MessagePumpHook hook) {
    std::lock_guard<std::mutex> guard(hookLock);
    installedHook = std::move(hook);
    hookThread = std::this_thread::get_id();
}

void pumpMessages() {
    MessagePumpHook hook;
    {
        std::lock_guard<std::mutex> guard(hookLock);
        if (!installedHook || hookThread != std::this_thread::get_id()) return;
        hook = installedHook;
    }
    hook();
}

void sleepPumping(uint32_t durationMs) {
    constexpr uint32_t kSliceMs = 10;
    const uint32_t start = tickCount();
    for (uint32_t passed = 0; passed < durationMs; passed = elapsedSince(start)) {
        const uint32_t left = durationMs - passed;
        sleepMs(left < kSliceMs ? left : kSliceMs);
        pumpMessages();
    }
}

}  // namespace korvane
