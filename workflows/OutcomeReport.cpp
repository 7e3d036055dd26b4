#include "workflows/OutcomeReport.h"

#include "platform/MessagePump.h"
#include "platform/Tick.h"
#include "server/LoadServerClient.h"
#include "workflows/LoadJob.h"
#include "workflows/LoadStation.h"
#include "workflows/Operator.h"

namespace korvane {

bool reportOutcome(LoadStation& station, LoadServerClient& client, const char* failureLeadIn) {
    if (client.ReportLoadStatus()) {
        station.reportedOutcome = client.owner() != nullptr ? client.owner()->loadReport.outcome : std::string();
        return true;
    }
    station.op.showMessage(failureLeadIn + client.LastErrorText());
    return false;
}

void pumpingPause(uint32_t durationMs) {
    constexpr uint32_t kSliceMs = 10;
    const uint32_t start = tickCount();
    for (uint32_t passed = 0; passed < durationMs; passed = elapsedSince(start)) {
        const uint32_t left = durationMs - passed;
        sleepMs(left < kSliceMs ? left : kSliceMs);
        pumpMessages();
    }
}

}  // namespace korvane
