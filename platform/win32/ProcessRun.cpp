#include "platform/ProcessRun.h"

#include "platform/SystemErrorText.h"
#include "platform/Tick.h"

#include <windows.h>

namespace korvane {
namespace {

// One argument as the C runtime's parser reads it back: quoted when it holds
// a blank or is empty, with backslashes doubled before a quote.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string text = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

std::string joinedCommandLine(const std::vector<std::string>& arguments) {
    std::string commandLine;
    for (const std::string& argument : arguments) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += quoted(argument);
    }
    return commandLine;
}

}  // namespace

ProcessRun runProgram(const std::vector<std::string>& arguments, uint32_t limitMs) {
    ProcessRun run;
    if (arguments.empty()) {
        run.error = "no program named";
        return run;
    }
    // No application name: the system searches the program's folder, the
    // working directory and the PATH for a bare name, as the command line
    // alone decides which program runs.
    std::string commandLine = joinedCommandLine(arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const uint32_t start = tickCount();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        const DWORD error = GetLastError();
        run.error = arguments[0] + ": " + systemErrorText(static_cast<int>(error)) + " (error " +
                    std::to_string(error) + ")";
        return run;
    }
    run.started = true;

    const DWORD waited = WaitForSingleObject(process.hProcess, limitMs);
    run.elapsedMs = elapsedSince(start);
    if (waited == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (GetExitCodeProcess(process.hProcess, &exitCode)) run.exitCode = static_cast<int>(exitCode);
    } else {
        run.timedOut = true;
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        sleepMs(kKilledProgramPauseMs);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

}  // namespace korvane
