// The far end of a COM port for the Windows tests: a pseudo-terminal whose
// slave Wine maps as a COM port. It prints the slave's path on its first
// line, then follows commands the test sends over the line itself:
//
//   #fill N XX          send N bytes of value XX (hex)
//   #script E S E S ... expect exactly the bytes E, then send the bytes S,
//                       and so on; every field is hex, "-" is none
//   #check              answer "=N\n", N the deviations seen so far
//   #bye                end; the exit status is 1 when anything deviated
//   #hangup             end as #bye, closing the line: the device is gone
//
// Outside a script only commands may arrive. Every byte that differs from
// what the test announced, and every announced byte that never came, is a
// deviation, reported on standard error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kIdleLimitMs = 120000;      // no test takes this long between two bytes
constexpr int kExpectLimitMs = 10000;     // an announced byte that takes longer is missing
constexpr size_t kLongestCommand = 1 << 20;
constexpr int kDeviationsShown = 20;      // the rest are only counted

int master = -1;
int deviations = 0;

void deviation(const std::string& what) {
    ++deviations;
    if (deviations <= kDeviationsShown)
        std::fprintf(stderr, "serial-loop-peer: deviation %d: %s\n", deviations, what.c_str());
}

std::string hexOf(unsigned char byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

bool parseHex(const std::string& field, std::string& bytes) {
    bytes.clear();
    if (field == "-") return true;
    if (field.size() % 2 != 0) return false;
    for (size_t i = 0; i < field.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = field.substr(i, 2);
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0') return false;
        bytes += static_cast<char>(value);
    }
    return true;
}

void sendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::write(master, bytes.data() + sent, bytes.size() - sent);
        if (count > 0) {
            sent += static_cast<size_t>(count);
        } else if (count < 0 && errno != EINTR && errno != EAGAIN) {
            deviation(std::string("cannot send: ") + std::strerror(errno));
            return;
        } else {
            pollfd watch{master, POLLOUT, 0};
            ::poll(&watch, 1, 100);
        }
    }
}

// One byte from the line; false after `limitMs` without one. The slave may
// be closed between two opens by the test: that is no byte, not an end.
bool readByte(unsigned char& byte, int limitMs) {
    for (int waited = 0; waited < limitMs; waited += 10) {
        pollfd watch{master, POLLIN, 0};
        if (::poll(&watch, 1, 10) > 0 && (watch.revents & POLLIN) != 0) {
            const ssize_t count = ::read(master, &byte, 1);
            if (count == 1) return true;
        }
    }
    return false;
}

void expectBytes(const std::string& expected) {
    for (size_t i = 0; i < expected.size(); ++i) {
        unsigned char byte = 0;
        if (!readByte(byte, kExpectLimitMs)) {
            deviation("byte " + std::to_string(i) + " of " + std::to_string(expected.size()) + " never came (expected " +
                      hexOf(static_cast<unsigned char>(expected[i])) + ")");
            return;
        }
        if (byte != static_cast<unsigned char>(expected[i]))
            deviation("byte " + std::to_string(i) + ": expected " + hexOf(static_cast<unsigned char>(expected[i])) +
                      ", got " + hexOf(byte));
    }
}

// Returns false on #bye and #hangup.
bool runCommand(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "#bye" || command == "#hangup") return false;
    if (command == "#check") {
        sendAll("=" + std::to_string(deviations) + "\n");
    } else if (command == "#fill") {
        size_t count = 0;
        std::string value;
        std::string byte;
        if (!(words >> count >> value) || !parseHex(value, byte) || byte.size() != 1) {
            deviation("bad command \"" + line + "\"");
            return true;
        }
        sendAll(std::string(count, byte[0]));
    } else if (command == "#script") {
        std::vector<std::string> fields;
        for (std::string field; words >> field;) fields.push_back(field);
        std::vector<std::string> steps(fields.size());
        for (size_t i = 0; i < fields.size(); ++i) {
            if (!parseHex(fields[i], steps[i])) {
                deviation("bad command \"" + line + "\"");
                return true;
            }
        }
        for (size_t i = 0; i < steps.size(); ++i) {
            if (i % 2 == 0) {
                expectBytes(steps[i]);
            } else {
                sendAll(steps[i]);
            }
        }
    } else {
        deviation("unknown command \"" + line + "\"");
    }
    return true;
}

}  // namespace

int main() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("serial-loop-peer: pseudo-terminal");
        return 2;
    }
    const char* slavePath = ::ptsname(master);
    // Holding the slave open keeps the line up between the test's opens.
    const int slave = ::open(slavePath, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave < 0 || ::tcgetattr(slave, &settings) != 0) {
        std::perror("serial-loop-peer: slave");
        return 2;
    }
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    std::printf("%s\n", slavePath);
    std::fflush(stdout);

    std::string line;
    bool inCommand = false;
    bool hangUp = false;
    for (;;) {
        unsigned char byte = 0;
        if (!readByte(byte, kIdleLimitMs)) {
            deviation("the test fell silent without #bye");
            break;
        }
        if (!inCommand) {
            if (byte == '#') {
                inCommand = true;
                line = "#";
            } else {
                deviation("unannounced byte " + hexOf(byte));
            }
            continue;
        }
        if (byte != '\n') {
            line += static_cast<char>(byte);
            if (line.size() > kLongestCommand) {
                deviation("command too long");
                inCommand = false;
            }
            continue;
        }
        inCommand = false;
        if (!runCommand(line)) {
            hangUp = line == "#hangup";
            break;
        }
    }
    if (hangUp) {
        ::close(slave);
        ::close(master);
    }
    std::fprintf(stderr, "serial-loop-peer: violations: %d\n", deviations);
    ::close(slave);
    return deviations == 0 ? 0 : 1;
}
