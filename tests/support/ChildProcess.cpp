#include "tests/support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvane::test {
namespace {

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string makeCaptureFile(const char* tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-child-").string() + tag + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return pattern;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args, const Options& options)
    : outPath_(makeCaptureFile("out")), errPath_(makeCaptureFile("err")) {
    std::vector<std::string> argvStore{program};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& argument : argvStore) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int out = ::open(outPath_.c_str(), O_WRONLY | O_TRUNC);
        const int err = ::open(errPath_.c_str(), O_WRONLY | O_TRUNC);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setpgid(0, 0);
        // A test may ignore SIGPIPE for its own sockets; the program starts as a shell would start it.
        std::signal(SIGPIPE, SIG_DFL);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
        for (const auto& [name, value] : options.env) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        if (options.beforeExec) options.beforeExec();
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (running()) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        waitForExit(5000);
    }
    ::unlink(outPath_.c_str());
    ::unlink(errPath_.c_str());
}

bool ChildProcess::running() {
    if (status_) return false;
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return false;
    }
    return done == 0;
}

int ChildProcess::waitForExit(int timeoutMs) {
    waitUntil([this] { return !running(); }, timeoutMs);
    return status_.value_or(-1);
}

void ChildProcess::signal(int signalNumber) {
    if (running()) ::kill(pid_, signalNumber);
}

std::string ChildProcess::standardOutput() const { return readWhole(outPath_); }
std::string ChildProcess::standardError() const { return readWhole(errPath_); }

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace korvane::test
