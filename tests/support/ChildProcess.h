#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <sys/types.h>

namespace korvane::test {

// A real program run by a test: its output is captured to files, its end is
// awaited with a time-out, and it is killed if the test leaves it running.
class ChildProcess {
public:
    struct Options {
        std::string workingDirectory;                             // empty: the test's own
        std::map<std::string, std::optional<std::string>> env;    // set, or unset with nullopt
        std::function<void()> beforeExec;                         // runs in the child, after fork
    };

    ChildProcess(const std::string& program, const std::vector<std::string>& args, const Options& options);
    ChildProcess(const std::string& program, const std::vector<std::string>& args)
        : ChildProcess(program, args, Options{}) {}
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // The exit status, or -1 if it has not ended within the time (or died on a signal: 128 + signal).
    int waitForExit(int timeoutMs);
    void signal(int signalNumber);

    std::string standardOutput() const;
    std::string standardError() const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string outPath_;
    std::string errPath_;
};

// Polls `condition` every few milliseconds until it holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

}  // namespace korvane::test
