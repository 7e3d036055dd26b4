#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

struct LoadJob;

// A TCP connection to the load server with the waits the load protocol was
// written for: every wait is a poll with 1 ms sleeps against a millisecond
// budget, and no call blocks while no data is waiting. Where an error number
// is shown it is the system's socket error: errno on Linux (h_errno for the
// name lookup), WSAGetLastError on Windows.
//
// It also holds what the client classes above it share: the last error text
// and the owner, the load job this object currently works for.
class TcpSocket {
public:
    // On Windows this starts Winsock 2.2; a failure leaves "Winsock Failed to
    // Start Error %d" as the last error text and every connect failing.
    TcpSocket();
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

    bool isOpen() const { return socket_ != kNoSocket; }
    std::string LastErrorText() const { return lastErrorText_; }

    // The load this object works for; may be null. Progress texts go to its window.
    void setOwner(LoadJob* owner) { owner_ = owner; }
    LoadJob* owner() const { return owner_; }

protected:
    void setLastErrorText(std::string text) { lastErrorText_ = std::move(text); }
    void postStatus(const std::string& text) const;
    // The error number of the last socket call of this object that failed.
    int lastSocketError() const { return socketError_; }

private:
    static constexpr std::intptr_t kNoSocket = -1;

    // What one look at a connect in progress found.
    enum class ConnectPoll { Pending, Connected, Refused, PollFailed };

    bool failConnect(std::string text);

    // The system calls, one backend per operating system (TcpSocketCalls.cpp).
    // Each failing call leaves its error number in socketError_.
    static int lookUpIpv4(const std::string& hostName, uint32_t& addressNetworkOrder);  // 0 or the error
    bool createSocket();
    bool setBlocking(bool blocking);
    // 1 connected at once, 0 in progress, -1 failed.
    int startConnect();
    ConnectPoll pollConnect();
    void closeSocket();
    int receiveNow(void* buffer, std::size_t size);
    // Up to 1 ms; data that arrives may end it early.
    void pauseForData();

    std::intptr_t socket_ = kNoSocket;
    uint32_t peerAddress_ = 0;  // IPv4, network byte order
    uint16_t peerPort_ = 0;     // network byte order
    bool networkStarted_ = false;
    int socketError_ = 0;
    LoadJob* owner_ = nullptr;
    std::string lastErrorText_;
};

}  // namespace korvane
