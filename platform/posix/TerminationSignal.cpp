#include "platform/TerminationSignal.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace korvane {
namespace {

int writeEnd = -1;

void onSignal(int signalNumber) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) [[maybe_unused]] ssize_t ignored = ::write(writeEnd, &byte, 1);
}

}  // namespace

int installTerminationSignalPipe() {
    static int readEnd = -1;
    if (readEnd >= 0) return readEnd;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    readEnd = fds[0];
    writeEnd = fds[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return readEnd;
}

int takeTerminationSignal(int readFd) {
    int last = 0;
    unsigned char byte = 0;
    while (::read(readFd, &byte, 1) == 1) last = byte;
    return last;
}

void endBySignal(int signalNumber) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signalNumber);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signalNumber);
    ::_exit(128 + signalNumber);
}

}  // namespace korvane
