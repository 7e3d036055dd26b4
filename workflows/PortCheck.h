#pragma once

#include <string>

namespace korvane {

class SerialPort;

inline constexpr const char* kPortOutOfRangeMessage = "Com Port Out of Range(1-255).";
inline constexpr const char* kPortAccessFailedMessage = "Failed on Com Port Access.";
inline constexpr int kPadBaudRate = 115200;

// The port check every press and the COM port prompt make: the number must
// be 1 to 255, then the port is opened at `baudRate`, no parity, 8 data bits,
// 1 stop bit, with fresh settings. On failure `errorText` gets the message
// for the operator and the port is left closed.
bool checkAndOpenPort(SerialPort& port, int portNumber, int baudRate, std::string& errorText);

// The COM port prompt's OK: close the load's port, then the port check at
// 115200 baud on the number typed (a failed check leaves the port closed).
bool reopenLoadPort(SerialPort& port, int portNumber, std::string& errorText);

}  // namespace korvane
