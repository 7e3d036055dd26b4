#pragma once

#include <string>

namespace korvane {

class LoadServerClient;
struct LoadStation;

inline constexpr const char* kSendLoadIdentifierFailed = "Error Returned trying to Send Load Identifier:\r\n";

// ReportLoadStatus with the job's outcome. When the server took it, the
// station remembers the outcome; otherwise the operator sees `failureLeadIn`
// and the server client's text.
bool reportOutcome(LoadStation& station, LoadServerClient& client,
                   const char* failureLeadIn = kSendLoadIdentifierFailed);

}  // namespace korvane
