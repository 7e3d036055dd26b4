#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// One run of an outside program, as far as the loader judges it.
struct ProcessRun {
    bool started = false;
    bool timedOut = false;   // still running at the limit: it was killed
    uint32_t elapsedMs = 0;  // from just before the start to its end (or the kill)
    int exitCode = -1;       // the program's exit status; -1 when killed or ended by a signal
    std::string error;       // why it could not be started
};

// A command line split at spaces and tabs, as the pad vendor's program
// expects its options: "ddl.exe -p1 -b115200" gives three arguments.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Starts arguments[0] by name, found on PATH like a bare program name on
// Windows, with the loader's environment and working directory and none of
// its other open files, and waits up to `limitMs` for it to end. A program
// still running at the limit is killed, reaped, and 100 ms more pass, as the
// pad may still be busy with what it was sent. Blocks the calling thread.
ProcessRun runProgram(const std::vector<std::string>& arguments, uint32_t limitMs);

inline constexpr uint32_t kKilledProgramPauseMs = 100;

}  // namespace korvane
