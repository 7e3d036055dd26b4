#include "workflows/Operator.h"

#include "platform/MessagePump.h"

namespace korvane {

void Operator::pumpMessages() { korvane::pumpMessages(); }

void Operator::showBusy(bool) {}

}  // namespace korvane
