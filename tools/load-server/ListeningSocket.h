#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// The server's TCP listening socket. Accepted sockets come back non-blocking.
class ListeningSocket {
public:
    enum class Accept { connection, woken, failed };

    ListeningSocket() = default;
    ~ListeningSocket();
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

    // `address` is a numeric IPv4 or IPv6 address or a host name; port 0 picks a free port.
    bool open(const std::string& address, uint16_t port, std::string& error);

    // The address and port actually bound, e.g. "127.0.0.1:40123" or "[::1]:40123".
    std::string boundAddress() const;

    // Waits for a client, or until `wakeFd` becomes readable.
    Accept accept(int wakeFd, int& clientFd, std::string& peer);

private:
    int fd_ = -1;
};

}  // namespace korvane
