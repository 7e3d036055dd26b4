#pragma once

#include <array>
#include <string>
#include <string_view>

namespace korvane {

struct DeviceInfo;

// How the RBA commands judge what the pad answered. Every function takes a
// reply as the link delivered it (STX text ETX check byte) and accepts any
// bytes at all: short, cut or oversized replies give an empty field or the
// command's failure text, never more.

// True when the reply begins with STX followed by `head` (e.g. "60.2").
bool replyStartsWith(std::string_view reply, std::string_view head);

// The identification reply has "07." right after its first byte.
bool isIdentificationReply(std::string_view reply);

// Fills `padModel` (piece 2), `padAppVersion` (9), `appVersion` (10),
// `configVersion` (11) and `oemId` (14) of the reply split at FS and ETX;
// a piece the reply lacks leaves its field as it was.
void takeIdentificationFields(std::string_view reply, DeviceInfo& deviceInfo);

// Piece 3 of a "61." reply split at GS and ETX: the parameter's value.
std::string parameterValueOf(std::string_view reply);

inline constexpr const char* kNoPinKeyText = "No PIN key found.";
inline constexpr const char* kNoPanKeyText = "No PAN key found.";
inline constexpr const char* kWrongPanKeyText = "Incorrect PAN key found. Please contact Korvane.";

// Key-set identifiers accepted for the PAN key, beside any beginning "918914".
inline constexpr std::string_view kAcceptedPanPrefix = "918914";
inline constexpr std::array<std::string_view, 27> kAcceptedKeySets = {
    "2517121000", "6299490082", "6299490088", "AA41040000", "FF00262915", "FFFF987654", "FFFF998877",
    "FFFFAA1403", "FFFFAA4205", "FFFFAA5106", "FFFFAA5207", "FFFFAF5111", "FFFFAF5212", "FFFF670533",
    "6299499673", "FFFF345048", "FFFFAF1101", "FFFFAF1202", "FFFFAF1403", "FFFFAF2104", "FFFFAF2205",
    "FFFFAF2406", "FFFFAF3107", "FFFFAF3208", "FFFFAF4109", "FFFFAF4210", "9876543210",
};

// The verdict on a "29.00000810" reply: empty when a PIN key ("KSN_0=") is
// present and the ten characters after the first "KSN_4=" name an accepted
// key set; otherwise the failure text for the operator.
std::string judgeKeyReply(std::string_view reply);

}  // namespace korvane
