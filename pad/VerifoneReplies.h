#pragma once

#include <string>
#include <string_view>

namespace korvane {

struct DeviceInfo;

// The Verifone pads' message texts and how their replies are read. Replies are
// taken as the link delivered them (STX text ETX check byte); positions count
// from 0 at the STX. A reply may be any bytes at all: a position beyond it
// gives an empty field, never more.

inline constexpr const char* kVerifoneSerialFailedText = "Unsuccessful Obtaining SerialNo From PinPad.";

// The failure text of a non-zero link result: 1 NAK, 6 no acknowledgement,
// 5 reply time-out, anything else a packet error.
const char* verifoneLinkResultText(int linkResult);

// "S95", the identity query with a reply of fixed positions.
std::string verifoneSerialQueryText();
// "S95" FS "11,12,15", the identity query with a tagged reply.
std::string verifoneTagsQueryText();
// "*01P2" followed by "U" for a USB connection or "1" for a serial one.
std::string verifoneDownloadModeText(bool usbConnection);
// "Z8", the text, FS FS FS.
std::string verifoneZ8Text(std::string_view text);

// A fixed-position "S95" reply: status "00" at characters 1 and 2, then
// `padModel` (characters 3 to 7), `padAppVersion` (20 to 28, leading "0"
// removed) and `oemId` (47 to 62, trailing white space removed). False, and
// nothing taken, when the status is not "00" (also for a reply too short to
// hold it).
bool takeVerifoneSerialReply(std::string_view reply, DeviceInfo& deviceInfo);

// A tagged "S95" reply: status "00" at characters 4 and 5, then GS "11"
// model, FS "12" application version, FS "15" OEM identifier, ETX. Each value
// starts three characters after its separator. `padModel`, `padAppVersion`
// and `appVersion` (leading "0" removed) and `oemId` (trailing white space
// removed). False, and nothing taken, when the status is not "00" or the
// reply lacks the GS, either FS after it or the closing ETX: values cut from
// separators that are not there would be arbitrary slices of the reply.
bool takeVerifoneTagsReply(std::string_view reply, DeviceInfo& deviceInfo);

}  // namespace korvane
