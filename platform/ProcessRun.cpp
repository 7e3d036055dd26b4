#include "platform/ProcessRun.h"

namespace korvane {

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> arguments;
    size_t position = 0;
    while (true) {
        const size_t start = commandLine.find_first_not_of(" \t", position);
        if (start == std::string::npos) break;
        const size_t end = commandLine.find_first_of(" \t", start);
        arguments.push_back(commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        position = end;
    }
    return arguments;
}

}  // namespace korvane
