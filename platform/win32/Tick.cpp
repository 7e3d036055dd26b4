#include "platform/Tick.h"

#include <windows.h>

namespace korvane {

uint32_t tickCount() { return GetTickCount(); }

void sleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace korvane
