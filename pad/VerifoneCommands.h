#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

class SerialPort;
struct DeviceInfo;

// Link time-outs of the Verifone commands (acknowledgement / reply, ms). Never scaled.
inline constexpr uint32_t kVerifoneIdentityAckMs = 2000, kVerifoneIdentityReplyMs = 2000;
inline constexpr uint32_t kVerifoneZ8AckMs = 2000, kVerifoneZ8ReplyMs = 2000;
// Pauses around the commands, part of the pad's protocol, not procedure waits.
inline constexpr uint32_t kDownloadModeLeadPauseMs = 1000;
inline constexpr uint32_t kPadCommandLeadPauseMs = 250;   // Z8, and download mode on a port just opened
inline constexpr uint32_t kPadCommandTrailPauseMs = 200;  // after an accepted download mode or Z8

// The Verifone handlers' commands on the port they have opened. Each gives
// true, or false with its failure text in `message` (the link result text,
// or "Unsuccessful Obtaining SerialNo From PinPad." for a reply without the
// "00" status).

// "S95": model, application version and OEM identifier from fixed positions.
bool readVerifoneSerial(SerialPort& port, DeviceInfo& deviceInfo, std::string& message);
// "S95" FS "11,12,15": the same from tags 11, 12 and 15.
bool readVerifoneTags(SerialPort& port, DeviceInfo& deviceInfo, std::string& message);
// "*01P2" "U" (USB) or "1" (serial), a second after the call; only the ACK is awaited.
bool requestDownloadMode(SerialPort& port, std::string& message, bool usbConnection);
// "Z8" with a text for the pad's display.
bool sendZ8Message(SerialPort& port, std::string_view text, std::string& message);

// The download-mode frame with its ACK wait, then the pause after success;
// the link result. Shared by both forms of the request.
int sendDownloadModeRequest(SerialPort& port, bool usbConnection);

}  // namespace korvane
