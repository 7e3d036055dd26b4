#include "server/TcpSocket.h"

#include "platform/MessagePump.h"
#include "platform/Tick.h"
#include "server/FormatText.h"
#include "job/LoadJob.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvane {

namespace {

// The numbers the load protocol shows for a refused or timed-out connect and
// for a failed send, in place of an operating-system error.
constexpr int kConnectFailedCode = 3006;
constexpr int kSendFailedCode = 3003;

constexpr char kContactingText[] = "Contacting Korvane load server";

// gethostbyname's answer, re-entrant. Returns 0 or the h_errno code.
int lookUpIpv4(const std::string& hostName, in_addr& address) {
    hostent entry{};
    hostent* result = nullptr;
    int lookupError = 0;
    std::vector<char> scratch(2048);
    for (;;) {
        const int rc = gethostbyname_r(hostName.c_str(), &entry, scratch.data(), scratch.size(), &result,
                                       &lookupError);
        if (rc == ERANGE && scratch.size() < (1u << 20)) {
            scratch.resize(scratch.size() * 2);
            continue;
        }
        break;
    }
    if (result == nullptr) return lookupError != 0 ? lookupError : HOST_NOT_FOUND;
    if (result->h_addrtype != AF_INET || result->h_length != sizeof(in_addr) || result->h_addr_list[0] == nullptr)
        return NO_DATA;
    std::memcpy(&address, result->h_addr_list[0], sizeof address);
    return 0;
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

bool TcpSocket::LookUp(const std::string& hostName, std::string& address, std::string& errorText) {
    in_addr found{};
    const int lookupError = lookUpIpv4(hostName, found);
    if (lookupError != 0) {
        errorText = formatText("DNS Lookup of '%s' Failed with Error %d.", hostName.c_str(), lookupError);
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    address = ::inet_ntop(AF_INET, &found, text, sizeof text) != nullptr ? text : "";
    return true;
}

void TcpSocket::postStatus(const std::string& text) const {
    if (owner_ != nullptr) owner_->postStatus(text);
}

bool TcpSocket::setBlocking(bool blocking) {
    const int flags = fcntl(socket_, F_GETFL);
    if (flags < 0) return false;
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return wanted == flags || fcntl(socket_, F_SETFL, wanted) == 0;
}

bool TcpSocket::failConnect(std::string text) {
    setLastErrorText(std::move(text));
    Close();
    return false;
}

bool TcpSocket::Connect(const std::string& hostName, uint16_t port, uint32_t timeoutMs) {
    Close();
    postStatus(kContactingText);

    in_addr address{};
    const int lookupError = lookUpIpv4(hostName, address);
    if (lookupError != 0) {
        setLastErrorText(formatText("DNS Lookup of '%s' Failed with Error %d.", hostName.c_str(), lookupError));
        return false;
    }
    peer_ = {};
    peer_.sin_family = AF_INET;
    peer_.sin_port = htons(port);
    peer_.sin_addr = address;

    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        socketError_ = errno;
        setLastErrorText("Socket Creation Failed");
        return false;
    }
    if (!setBlocking(false)) {
        socketError_ = errno;
        return failConnect(formatText("Socket ioctl (No Block) Failed with Error %d", socketError_));
    }

    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) == 0) {
        setBlocking(true);
        return true;
    }
    if (errno != EINPROGRESS) {
        socketError_ = errno;
        // The text names the Winsock code it was written for; the numbers are errno.
        return failConnect(formatText("Got %d [0X%x] trying to Connect - Expected WSAEWOULDBLOCK", socketError_,
                                      static_cast<unsigned>(socketError_)));
    }

    const uint32_t start = tickCount();
    for (;;) {
        sleepMs(1);
        // Loads talk to the server from the user-interface thread too; its windows stay alive.
        pumpMessages();
        pollfd watch{socket_, POLLOUT, 0};
        const int ready = ::poll(&watch, 1, 0);
        if (ready < 0) {
            if (errno == EINTR) continue;
            socketError_ = errno;
            return failConnect(formatText("Socket Error Trying to Connect Error %d", socketError_));
        }
        if (ready > 0) {
            // A refused connect shows here as writable with an error pending.
            int pendingError = 0;
            socklen_t length = sizeof pendingError;
            const bool failed = (watch.revents & (POLLERR | POLLHUP)) != 0 ||
                                getsockopt(socket_, SOL_SOCKET, SO_ERROR, &pendingError, &length) != 0 ||
                                pendingError != 0;
            if (failed) {
                socketError_ = pendingError;
                return failConnect(formatText("Socket Error Trying to Connect Error %d", kConnectFailedCode));
            }
            if ((watch.revents & POLLOUT) != 0) {
                if (!setBlocking(true)) {
                    socketError_ = errno;
                    return failConnect(formatText("Socket ioctl (No Block) Failed with Error %d", socketError_));
                }
                return true;
            }
        }
        if (elapsedSince(start) > timeoutMs)
            return failConnect(formatText("Socket Error Trying to Connect Error %d", kConnectFailedCode));
    }
}

void TcpSocket::Close() {
    if (socket_ < 0) return;
    setBlocking(true);
    ::shutdown(socket_, SHUT_RDWR);
    ::close(socket_);
    socket_ = -1;
}

bool TcpSocket::HasPendingData() {
    if (socket_ < 0) return false;
    int available = 0;
    return ::ioctl(socket_, FIONREAD, &available) == 0 && available > 0;
}

bool TcpSocket::IsAlive() {
    if (socket_ < 0) return false;
    pollfd watch{socket_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, 0);
    if (ready < 0 && (errno == EBADF || errno == ENOTSOCK || errno == ENETDOWN)) return false;
    const bool readable = ready > 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)) != 0;

    // MSG_DONTWAIT in place of switching the socket to non-blocking and back.
    char peeked = 0;
    ssize_t count = ::recv(socket_, &peeked, 1, MSG_PEEK | MSG_DONTWAIT);
    if (count < 0) {
        switch (errno) {
        case EINTR:
        case EFAULT:
        case EINVAL:
        case ENOTSOCK:
        case EMSGSIZE:
        case EOPNOTSUPP:
        case ENETDOWN:
        case ENETRESET:
        case ECONNABORTED:
        case EISCONN:
        case ESHUTDOWN:
        case ETIMEDOUT:
        case ECONNRESET:
            return false;
        case EINPROGRESS:
            return true;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            count = 0;
            break;
        default:
            break;
        }
    }
    // Readable yet nothing to read is an orderly close.
    return count != 0 || !readable;
}

int TcpSocket::ReceiveWithTimeout(void* buffer, std::size_t size, uint32_t timeoutMs) {
    if (socket_ < 0) return 0;
    const auto receive = [&]() -> int {
        for (;;) {
            const ssize_t count = ::recv(socket_, buffer, size, 0);
            if (count >= 0) return static_cast<int>(count);
            if (errno == EINTR) continue;
            socketError_ = errno;
            return -1;
        }
    };
    if (timeoutMs == 0 && HasPendingData()) return receive();

    const uint32_t start = tickCount();
    for (;;) {
        if (!IsAlive()) return 0;
        if (elapsedSince(start) >= timeoutMs) return 0;
        // Up to 1 ms, as a sleep would, but a byte that arrives ends it at once:
        // the block download waits here once per block.
        pollfd watch{socket_, POLLIN, 0};
        ::poll(&watch, 1, 1);
        pumpMessages();
        if (HasPendingData()) return receive();
    }
}

long TcpSocket::Send(const void* data, std::size_t length) {
    if (length == 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::size_t sent = 0;
    // A blocking send may still return early on a signal; the rest follows, so
    // that a record never leaves half sent.
    while (sent < length) {
        const ssize_t count = socket_ < 0 ? -1 : ::send(socket_, bytes + sent, length - sent, MSG_NOSIGNAL);
        if (count < 0) {
            if (socket_ >= 0 && errno == EINTR) continue;
            socketError_ = socket_ < 0 ? EBADF : errno;
            setLastErrorText(formatText("Socket Error Sending %d", kSendFailedCode));
            return -1;
        }
        sent += static_cast<std::size_t>(count);
    }
    return static_cast<long>(sent);
}

}  // namespace korvane
