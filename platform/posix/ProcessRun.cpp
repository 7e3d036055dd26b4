#include "platform/ProcessRun.h"

#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane {
namespace {

constexpr uint32_t kPollSliceMs = 5;

int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// The child must inherit nothing but the standard streams: the loader may
// hold a server connection or a port that another program must not keep open.
bool closeOtherFiles(posix_spawn_file_actions_t& actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    return posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
#else
    (void)actions;
    return true;  // descriptors are opened close-on-exec throughout the loader
#endif
}

}  // namespace

ProcessRun runProgram(const std::vector<std::string>& arguments, uint32_t limitMs) {
    ProcessRun run;
    if (arguments.empty()) {
        run.error = "no program named";
        return run;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    closeOtherFiles(actions);
    const uint32_t start = tickCount();
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        run.error = arguments[0] + ": " + std::strerror(error);
        return run;
    }
    run.started = true;

    int status = 0;
    while (true) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            run.elapsedMs = elapsedSince(start);
            run.exitCode = exitCodeOf(status);
            return run;
        }
        if (ended < 0 && errno != EINTR) {
            // Someone else reaped it; its end is all that can be known.
            run.elapsedMs = elapsedSince(start);
            return run;
        }
        const uint32_t elapsed = elapsedSince(start);
        if (elapsed >= limitMs) break;
        sleepMs(std::min(kPollSliceMs, limitMs - elapsed));
    }

    run.timedOut = true;
    run.elapsedMs = elapsedSince(start);
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    sleepMs(kKilledProgramPauseMs);
    return run;
}

}  // namespace korvane
