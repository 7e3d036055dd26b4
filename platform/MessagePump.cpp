#include "platform/MessagePump.h"

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

}  // namespace korvane
