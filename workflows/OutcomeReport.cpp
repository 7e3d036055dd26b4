#include "workflows/OutcomeReport.h"

#include "server/LoadServerClient.h"
#include "job/LoadJob.h"
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

}  // namespace korvane
