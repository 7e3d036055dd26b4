#include "tools/padpeer/PtyPeer.h"

#include "tools/padpeer/LineNoise.h"
#include "tools/padpeer/PeerFrame.h"
#include "tools/padpeer/PortLink.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace korvane::padpeer {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex newLineNoiseLock;
std::shared_ptr<LineNoise> newLineNoise;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

void PtyPeer::addNoiseToNewLines(std::shared_ptr<LineNoise> noise) {
    std::lock_guard<std::mutex> guard(newLineNoiseLock);
    newLineNoise = std::move(noise);
}

PtyPeer::PtyPeer() {
    {
        std::lock_guard<std::mutex> guard(newLineNoiseLock);
        noise_ = newLineNoise;
    }
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof(name)) != 0) {
        ::close(master_);
        throw std::runtime_error("pseudo-terminal slave not available");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        ::close(master_);
        throw std::runtime_error("cannot open " + slavePath_);
    }
}

PtyPeer::~PtyPeer() { unplug(); }

std::string PtyPeer::linkAs(const std::string& folder, int portNumber) const {
    std::filesystem::create_directories(folder);
    const std::string link = folder + "/com" + std::to_string(portNumber);
    std::error_code error;
    replacePortLink(link, slavePath_, error);
    if (error) throw std::filesystem::filesystem_error("cannot link " + link, link, slavePath_, error);
    return link;
}

bool PtyPeer::write(std::string_view bytes, uint32_t timeoutMs) {
    std::string noisy;
    if (noise_) {
        noisy = noise_->pass(LineNoise::Direction::toLoader, bytes);
        bytes = noisy;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!bytes.empty()) {
        if (master_ < 0) return false;
        const ssize_t count = ::write(master_, bytes.data(), bytes.size());
        if (count > 0) {
            bytes.remove_prefix(static_cast<size_t>(count));
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) return false;
        const int wait = remainingMs(deadline);
        if (wait == 0) return false;
        pollfd watch{master_, POLLOUT, 0};
        ::poll(&watch, 1, wait);
    }
    return true;
}

bool PtyPeer::fill(uint32_t timeoutMs) {
    if (master_ < 0) return false;
    pollfd watch{master_, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(timeoutMs)) <= 0 || (watch.revents & POLLIN) == 0) return false;
    char chunk[4096];
    const ssize_t count = ::read(master_, chunk, sizeof(chunk));
    // EIO: nobody has the slave open, which the held slave rules out until unplug.
    if (count <= 0) return false;
    std::string_view bytes(chunk, static_cast<size_t>(count));
    std::string noisy;
    if (noise_) {
        noisy = noise_->pass(LineNoise::Direction::toPad, bytes);
        bytes = noisy;
    }
    inbox_.append(bytes);
    std::lock_guard<std::mutex> guard(recordLock_);
    received_.append(bytes);
    return true;
}

std::string PtyPeer::read(size_t count, uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (inbox_.size() < count) {
        const int wait = remainingMs(deadline);
        if (wait == 0 || !fill(static_cast<uint32_t>(wait))) {
            if (remainingMs(deadline) == 0 || master_ < 0) break;
        }
    }
    std::string taken = inbox_.substr(0, count);
    inbox_.erase(0, taken.size());
    return taken;
}

std::optional<char> PtyPeer::readByte(uint32_t timeoutMs) {
    const std::string byte = read(1, timeoutMs);
    if (byte.empty()) return std::nullopt;
    return byte[0];
}

std::string PtyPeer::readUntilQuiet(uint32_t quietMs) {
    while (fill(quietMs)) {
    }
    std::string taken;
    taken.swap(inbox_);
    return taken;
}

std::optional<std::string> PtyPeer::readFrame(uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t start = inbox_.find(kStx);
        if (start == std::string::npos) {
            inbox_.clear();
        } else {
            inbox_.erase(0, start);
            const size_t end = inbox_.find(kEtx, 1);
            if (end != std::string::npos && end + 1 < inbox_.size()) {
                std::string frame = inbox_.substr(0, end + 2);
                inbox_.erase(0, end + 2);
                return frame;
            }
        }
        const int wait = remainingMs(deadline);
        if (wait == 0) return std::nullopt;
        fill(static_cast<uint32_t>(wait));
        if (master_ < 0) return std::nullopt;
    }
}

void PtyPeer::unread(char byte) { inbox_.insert(inbox_.begin(), byte); }

bool PtyPeer::hasInput() { return !inbox_.empty() || fill(0); }

void PtyPeer::unplug() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = -1;
    slave_ = -1;
}

std::string PtyPeer::received() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    return received_;
}

}  // namespace korvane::padpeer
