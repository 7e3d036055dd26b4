#pragma once

namespace korvane {

// Results of the pad link operations. A failed write passes the SerialPort's
// write status through unchanged (1 I/O error, 5 write time-out).
inline constexpr int kLinkSuccess = 0;
// A byte other than ACK, a reply that failed its check, or the device went away.
inline constexpr int kLinkFailed = 1;
inline constexpr int kLinkReplyTimeout = 5;  // nothing valid before the reply time-out
inline constexpr int kLinkAckTimeout = 6;    // no acknowledgement before its time-out

}  // namespace korvane
