#pragma once

#include <cstdint>
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

// Sleeps `durationMs` in short slices, letting the calling thread's windows run.
void pumpingPause(uint32_t durationMs);

}  // namespace korvane
