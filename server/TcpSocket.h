#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <netinet/in.h>

namespace korvane {

struct LoadJob;

// A TCP connection to the load server with the waits the load protocol was
// written for: every wait is a poll with 1 ms sleeps against a millisecond
// budget, and no call blocks while no data is waiting. Where an error number
// is shown it is errno (h_errno for the name lookup).
//
// It also holds what the client classes above it share: the last error text
// and the owner, the load job this object currently works for.
class TcpSocket {
public:
    TcpSocket() = default;
    virtual ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves `hostName` (IPv4, the first address), then connects without
    // blocking, polling every millisecond until connected, refused, or more
    // than `timeoutMs` have passed. The socket is left in blocking mode.
    bool Connect(const std::string& hostName, uint16_t port, uint32_t timeoutMs);
    // No effect when no socket is open.
    void Close();
    // The name lookup Connect makes, alone, for diagnosis: the address in
    // dotted form, or false with Connect's lookup text.
    static bool LookUp(const std::string& hostName, std::string& address, std::string& errorText);

    // Waits up to `timeoutMs` for data and reads what is there, at most `size`
    // bytes. Returns the count; 0 for a time-out, or a closed or dead
    // connection (including no socket at all); -1 for a socket error.
    // Virtual so that a test can make the socket fail where a real one rarely does.
    virtual int ReceiveWithTimeout(void* buffer, std::size_t size, uint32_t timeoutMs);
    // Sends all `length` bytes; returns the count, or -1 (with "Socket Error
    // Sending 3003" as the last error text). A zero length sends nothing, returns 0.
    long Send(const void* data, std::size_t length);

    // False once the peer has closed in order or the connection has failed.
    bool IsAlive();
    bool HasPendingData();

    bool isOpen() const { return socket_ >= 0; }
    std::string LastErrorText() const { return lastErrorText_; }

    // The load this object works for; may be null. Progress texts go to its window.
    void setOwner(LoadJob* owner) { owner_ = owner; }
    LoadJob* owner() const { return owner_; }

protected:
    void setLastErrorText(std::string text) { lastErrorText_ = std::move(text); }
    void postStatus(const std::string& text) const;
    // errno of the last socket call of this object that failed.
    int lastSocketError() const { return socketError_; }

private:
    bool setBlocking(bool blocking);
    bool failConnect(std::string text);

    int socket_ = -1;
    sockaddr_in peer_{};
    int socketError_ = 0;
    LoadJob* owner_ = nullptr;
    std::string lastErrorText_;
};

}  // namespace korvane
