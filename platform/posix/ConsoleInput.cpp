#include "platform/ConsoleInput.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace korvane {

bool isTerminal(int fd) { return ::isatty(fd) == 1; }

std::optional<std::string> readLine(int fd, int interruptFd) {
    std::string line;
    for (;;) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {interruptFd, POLLIN, 0}};
        const int count = ::poll(watched, interruptFd >= 0 ? 2 : 1, -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (interruptFd >= 0 && (watched[1].revents & POLLIN) != 0) return std::nullopt;
        if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char byte = 0;
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (line.empty()) return std::nullopt;
            return line;
        }
        if (byte == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        line.push_back(byte);
    }
}

}  // namespace korvane
