#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane::ddlstandin {

// What the stand-in makes of its command line. The loader starts the
// download program as "ddl.exe -pN -b115200 -k7 -fEvoloadSerial.dld" (or
// "-fEvoloadUSB.dld") for a Vx805, and "ddl.exe -pN -b115200 -k7 -iARCHIVE"
// for each P400 archive; the named file must lie in the working directory.
struct Invocation {
    int port = 0;
    std::string fileName;  // the description (-f) or archive (-i)
    bool archive = false;  // -i
    std::vector<std::string> violations;  // every way the command line deviates
};

Invocation readInvocation(const std::vector<std::string>& arguments);

// "MS" or "MS,ARGUMENT=MS,...": the default, and values for runs whose
// command line holds ARGUMENT. Nothing when the text is not of that form.
std::optional<long> pickSetting(const std::string& setting, const std::vector<std::string>& arguments);

// One line per regular file of `folder`, sorted by name: name, size, mode
// (octal) and SHA-256 (hex), separated by single spaces.
std::vector<std::string> describeFiles(const std::string& folder);

// Runs the stand-in: `arguments` without the program name; the settings come
// from the environment (see main.cpp). Returns the exit status.
int run(const std::vector<std::string>& arguments);

}  // namespace korvane::ddlstandin
