#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korvane {

// Files in the working directory: those handed to the Verifone download
// program, and the P400 package read from there.

// Writes `data` to a new file `name` in the working directory that only its
// owner may read or write: an existing file of that name is removed first,
// then the file is created exclusively with mode 0600 given at creation (so
// it is never readable by others, not even for an instant) and written in
// one piece. False with the operating system's reason in `errorText`; a file
// that was created but could not be written whole is removed again. On
// Windows the file is created with the hidden attribute instead of a mode.
bool writePrivateFile(const std::string& name, std::span<const uint8_t> data, std::string& errorText);

// Removes the file `name`; true when it is gone (also when it never was).
bool removeFile(const std::string& name);

// Whether something of that name exists.
bool fileExists(const std::string& name);

// The whole file `name` into `data` (replacing what it held). False with the
// operating system's reason in `errorText`.
bool readWholeFile(const std::string& name, std::vector<uint8_t>& data, std::string& errorText);

// Whether `name` names a file directly in the working directory: not empty,
// not "." or "..", and no "/" in it (on Windows no "\\" or ":" either).
// Names from outside (a package's entry names) must pass before they are
// used as file names.
bool isPlainFileName(const std::string& name);

}  // namespace korvane
