#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

struct DeviceInfo;

// The Equinox pad's message texts and how its replies are read. Replies are
// taken as the link delivered them (STX text ETX check byte, or a segmented
// reply as assembled) and may be any bytes at all: a reply too short for a
// position gives an empty field, never more.

// One "PL5" chunk carries at most this many bytes of a file, which keeps the
// frame below the port's 65,535-byte write limit.
inline constexpr size_t kEquinoxChunkBytes = 65000;

// ceil(size / 65000): a file of size 0 is not sent at all.
size_t equinoxChunkCount(size_t fileSize);

// The text of chunk `index` (from 0) of the file `name`: "PL5" FS, "Y" when
// more chunks follow or "N" on the last, the chunk's byte count in five
// zero-padded digits, the name, FS and the chunk's bytes as they are.
std::string equinoxChunkText(const std::string& name, std::span<const uint8_t> file, size_t index);

// "v" FS "GV" FS "VN" and the variable's name.
std::string equinoxGetVariableText(const std::string& name);

// The model letter of a "T" reply: its character at position 2 (from the STX).
std::string equinoxModelLetter(std::string_view reply);

// From an "F" reply: `oemId` (field 4, first 12 characters), `appVersion`
// (field 1, characters 2 to 5) and `configVersion`. Fields are cut at FS and
// ETX and numbered from 1; the first includes the STX, an empty field between
// two separators keeps its number. A field the reply lacks leaves its value
// as it was.
void takeEquinoxIdentity(std::string_view reply, DeviceInfo& deviceInfo);

// Reply characters 2 to 5, then the "MV" tagged value, each with its leading
// and trailing "0" characters removed: 0012 and 0340 give "1234".
std::string equinoxConfigVersion(std::string_view reply);

// The file a pad asks for: STX "R" name ETX. The reply must hold an ETX at
// position 2 or later and its first "R" must be at position 1; the name is
// what lies between. Nothing when the reply is no file request.
std::optional<std::string> requestedFileName(std::string_view reply);

// The PIN key serial number of "KeyKsn.12": without its leading "F"
// characters it must begin "3D0", followed by a number (leading digits of
// characters 3 to 5) from 185 to 198.
bool isAcceptablePinKsn(std::string_view value);

}  // namespace korvane
