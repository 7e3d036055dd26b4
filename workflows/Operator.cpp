#include "workflows/Operator.h"

#include "platform/MessagePump.h"

namespace korvane {

void Operator::pumpMessages() { korvane::pumpMessages(); }

}  // namespace korvane
