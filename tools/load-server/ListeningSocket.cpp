#include "tools/load-server/ListeningSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvane {
namespace {

std::string describe(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(v4.sin_port));
}

}  // namespace

ListeningSocket::~ListeningSocket() {
    if (fd_ >= 0) ::close(fd_);
}

bool ListeningSocket::open(const std::string& address, uint16_t port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookup != 0) {
        error = "cannot resolve the listen address " + address + ": " + ::gai_strerror(lookup);
        return false;
    }
    fd_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    const bool bound = fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                       ::bind(fd_, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd_, 128) == 0;
    const int failure = errno;
    ::freeaddrinfo(found);
    if (!bound) {
        error = "cannot listen on " + address + " port " + std::to_string(port) + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

std::string ListeningSocket::boundAddress() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return describe(address);
}

ListeningSocket::Accept ListeningSocket::accept(int wakeFd, int& clientFd, std::string& peer) {
    while (true) {
        pollfd entries[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(entries, wakeFd >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Accept::failed;
        }
        if (wakeFd >= 0 && entries[1].revents != 0) return Accept::woken;
        if (entries[0].revents == 0) continue;
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        clientFd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (clientFd >= 0) {
            peer = describe(address);
            return Accept::connection;
        }
        // A client that gave up before we took it, or a passing shortage: keep listening.
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EPROTO) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            ::poll(nullptr, 0, 50);  // let running connections end and free descriptors
            continue;
        }
        return Accept::failed;
    }
}

}  // namespace korvane
