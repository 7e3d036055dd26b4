#include "tests/tools/ScriptedEquinoxClient.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace korvane::test {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ScriptedEquinoxClient::~ScriptedEquinoxClient() { close(); }

bool ScriptedEquinoxClient::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios settings{};
    if (::tcgetattr(fd_, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd_, TCSANOW, &settings);
    }
    return true;
}

void ScriptedEquinoxClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    inbox_.clear();
}

std::string ScriptedEquinoxClient::frame(const std::string& text) {
    std::string bytes(1, kStx);
    bytes += text;
    bytes += kEtx;
    unsigned char check = 0;
    for (size_t i = 1; i < bytes.size(); ++i) check ^= static_cast<unsigned char>(bytes[i]);
    bytes += static_cast<char>(check);
    return bytes;
}

std::string ScriptedEquinoxClient::chunk(char flag, const std::string& name, const std::string& data,
                                         const std::string& lengthText) {
    char length[16];
    std::snprintf(length, sizeof length, "%05zu", data.size());
    return std::string("PL5") + kFs + flag + (lengthText.empty() ? std::string(length) : lengthText) + name + kFs + data;
}

bool ScriptedEquinoxClient::write(const std::string& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
            continue;
        }
        if (msLeft(deadline) == 0) return false;
        pollfd watch{fd_, POLLOUT, 0};
        ::poll(&watch, 1, 10);
    }
    return true;
}

std::optional<char> ScriptedEquinoxClient::readByte(uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (inbox_.empty()) {
        pollfd watch{fd_, POLLIN, 0};
        if (::poll(&watch, 1, msLeft(deadline)) > 0) {
            char chunk[4096];
            const ssize_t count = ::read(fd_, chunk, sizeof chunk);
            if (count > 0) inbox_.append(chunk, static_cast<size_t>(count));
        }
        if (inbox_.empty() && msLeft(deadline) == 0) return std::nullopt;
    }
    const char byte = inbox_.front();
    inbox_.erase(0, 1);
    return byte;
}

std::optional<std::string> ScriptedEquinoxClient::readFrame(uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string bytes;
    for (;;) {
        const std::optional<char> byte = readByte(static_cast<uint32_t>(msLeft(deadline)));
        if (!byte) return std::nullopt;
        if (bytes.empty() && *byte != kStx) continue;
        const bool wasEtx = bytes.size() >= 2 && bytes.back() == kEtx;
        bytes += *byte;
        if (wasEtx) return bytes;
    }
}

std::string ScriptedEquinoxClient::textOf(const std::string& frame) {
    return frame.size() >= 3 ? frame.substr(1, frame.size() - 3) : std::string();
}

bool ScriptedEquinoxClient::checks(const std::string& frame) {
    if (frame.size() < 3 || frame.front() != kStx || frame[frame.size() - 2] != kEtx) return false;
    unsigned char check = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) check ^= static_cast<unsigned char>(frame[i]);
    return static_cast<char>(check) == frame.back();
}

std::optional<char> ScriptedEquinoxClient::send(const std::string& text, uint32_t ackTimeoutMs) {
    if (!write(frame(text))) return std::nullopt;
    return readByte(ackTimeoutMs);
}

std::vector<std::string> ScriptedEquinoxClient::readReply(uint32_t timeoutMs, size_t most) {
    std::vector<std::string> frames;
    while (frames.size() < most) {
        const std::optional<std::string> got = readFrame(timeoutMs);
        if (!got) return frames;
        if (!checks(*got)) {
            write(std::string(1, kNak));
            continue;
        }
        write(std::string(1, kAck));
        const std::string text = textOf(*got);
        frames.push_back(text);
        if (text.compare(0, 2, "HY") != 0) return frames;
    }
    return frames;
}

std::string ScriptedEquinoxClient::joined(const std::vector<std::string>& frames) {
    std::string text;
    for (const std::string& frame : frames) {
        const bool segment = frame.compare(0, 2, "HY") == 0 || frame.compare(0, 2, "HN") == 0;
        text += segment ? frame.substr(5) : frame;
    }
    return text;
}

std::string ScriptedEquinoxClient::transact(const std::string& text) {
    const std::optional<char> answer = send(text);
    if (answer != kAck) return "<no ack>";
    const std::vector<std::string> frames = readReply();
    return frames.empty() ? "<no reply>" : joined(frames);
}

std::string ScriptedEquinoxClient::drain(uint32_t quietMs) {
    std::string bytes;
    while (const std::optional<char> byte = readByte(quietMs)) bytes += *byte;
    return bytes;
}

}  // namespace korvane::test
