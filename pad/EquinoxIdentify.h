#pragma once

#include <cstdint>
#include <string>

namespace korvane {

class SerialPort;
struct DeviceInfo;

// Link time-outs of the handler's identification (acknowledgement / reply, ms). Never scaled.
inline constexpr uint32_t kEquinoxTypeAckMs = 2000, kEquinoxTypeReplyMs = 2000;
inline constexpr uint32_t kEquinoxIdentityAckMs = 2000, kEquinoxIdentityReplyMs = 4000;

inline constexpr const char* kEquinoxTypeFailedText = "Sending 'T' Command to device Failed.";
inline constexpr const char* kEquinoxIdentityFailedText = "Sending 'F' Command to device Failed";

// The Equinox handler's identification on the port it has just opened: "T"
// for the model letter ("H" or "K" go into `padModel`), then "F" FS "MVY"
// for the versions and OEM identifier. False with the operator's text in
// `message`; a wrong letter is quoted, followed by the whole reply rendered.
bool identifyEquinox(SerialPort& port, DeviceInfo& deviceInfo, std::string& message);

}  // namespace korvane
