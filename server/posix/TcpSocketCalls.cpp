// The socket calls on Linux: BSD sockets, errno as the error number.
#include "server/TcpSocket.h"

#include "server/FormatText.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvane {

namespace {

constexpr int kSendFailedCode = 3003;

}  // namespace

// Linux needs no network start-up.
TcpSocket::TcpSocket() : networkStarted_(true) {}

TcpSocket::~TcpSocket() { Close(); }

// gethostbyname's answer, re-entrant. Returns 0 or the h_errno code.
int TcpSocket::lookUpIpv4(const std::string& hostName, uint32_t& addressNetworkOrder) {
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
    std::memcpy(&addressNetworkOrder, result->h_addr_list[0], sizeof addressNetworkOrder);
    return 0;
}

bool TcpSocket::createSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        socketError_ = errno;
        return false;
    }
    socket_ = fd;
    return true;
}

bool TcpSocket::setBlocking(bool blocking) {
    const int fd = static_cast<int>(socket_);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        socketError_ = errno;
        return false;
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (wanted == flags || fcntl(fd, F_SETFL, wanted) == 0) return true;
    socketError_ = errno;
    return false;
}

int TcpSocket::startConnect() {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = peerPort_;
    peer.sin_addr.s_addr = peerAddress_;
    if (::connect(static_cast<int>(socket_), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 1;
    if (errno == EINPROGRESS) return 0;
    socketError_ = errno;
    return -1;
}

TcpSocket::ConnectPoll TcpSocket::pollConnect() {
    pollfd watch{static_cast<int>(socket_), POLLOUT, 0};
    const int ready = ::poll(&watch, 1, 0);
    if (ready < 0) {
        if (errno == EINTR) return ConnectPoll::Pending;
        socketError_ = errno;
        return ConnectPoll::PollFailed;
    }
    if (ready == 0) return ConnectPoll::Pending;
    // A refused connect shows here as writable with an error pending.
    int pendingError = 0;
    socklen_t length = sizeof pendingError;
    const bool failed = (watch.revents & (POLLERR | POLLHUP)) != 0 ||
                        getsockopt(static_cast<int>(socket_), SOL_SOCKET, SO_ERROR, &pendingError, &length) != 0 ||
                        pendingError != 0;
    if (failed) {
        socketError_ = pendingError;
        return ConnectPoll::Refused;
    }
    return (watch.revents & POLLOUT) != 0 ? ConnectPoll::Connected : ConnectPoll::Pending;
}

void TcpSocket::closeSocket() {
    ::shutdown(static_cast<int>(socket_), SHUT_RDWR);
    ::close(static_cast<int>(socket_));
}

bool TcpSocket::HasPendingData() {
    if (socket_ == kNoSocket) return false;
    int available = 0;
    return ::ioctl(static_cast<int>(socket_), FIONREAD, &available) == 0 && available > 0;
}

bool TcpSocket::IsAlive() {
    if (socket_ == kNoSocket) return false;
    const int fd = static_cast<int>(socket_);
    pollfd watch{fd, POLLIN, 0};
    const int ready = ::poll(&watch, 1, 0);
    if (ready < 0 && (errno == EBADF || errno == ENOTSOCK || errno == ENETDOWN)) return false;
    const bool readable = ready > 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)) != 0;

    // MSG_DONTWAIT in place of switching the socket to non-blocking and back.
    char peeked = 0;
    ssize_t count = ::recv(fd, &peeked, 1, MSG_PEEK | MSG_DONTWAIT);
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

void TcpSocket::pauseForData() {
    // Up to 1 ms, as a sleep would, but a byte that arrives ends it at once:
    // the block download waits here once per block.
    pollfd watch{static_cast<int>(socket_), POLLIN, 0};
    ::poll(&watch, 1, 1);
}

int TcpSocket::receiveNow(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t count = ::recv(static_cast<int>(socket_), buffer, size, 0);
        if (count >= 0) return static_cast<int>(count);
        if (errno == EINTR) continue;
        socketError_ = errno;
        return -1;
    }
}

long TcpSocket::Send(const void* data, std::size_t length) {
    if (length == 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::size_t sent = 0;
    // A blocking send may still return early on a signal; the rest follows, so
    // that a record never leaves half sent.
    while (sent < length) {
        const ssize_t count =
            socket_ == kNoSocket ? -1 : ::send(static_cast<int>(socket_), bytes + sent, length - sent, MSG_NOSIGNAL);
        if (count < 0) {
            if (socket_ != kNoSocket && errno == EINTR) continue;
            socketError_ = socket_ == kNoSocket ? EBADF : errno;
            setLastErrorText(formatText("Socket Error Sending %d", kSendFailedCode));
            return -1;
        }
        sent += static_cast<std::size_t>(count);
    }
    return static_cast<long>(sent);
}

}  // namespace korvane
