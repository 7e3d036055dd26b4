#include "server/TcpSocket.h"

#include "platform/MessagePump.h"
#include "platform/Tick.h"
#include "server/FormatText.h"
#include "job/LoadJob.h"

#include <cstring>

namespace korvane {

namespace {

// The number the load protocol shows for a refused or timed-out connect, in
// place of an operating-system error.
constexpr int kConnectFailedCode = 3006;

constexpr char kContactingText[] = "Contacting Korvane load server";

std::string lookupFailedText(const std::string& hostName, int lookupError) {
    return formatText("DNS Lookup of '%s' Failed with Error %d.", hostName.c_str(), lookupError);
}

}  // namespace

bool TcpSocket::LookUp(const std::string& hostName, std::string& address, std::string& errorText) {
    uint32_t found = 0;
    const int lookupError = lookUpIpv4(hostName, found);
    if (lookupError != 0) {
        errorText = lookupFailedText(hostName, lookupError);
        return false;
    }
    unsigned char octets[4];
    std::memcpy(octets, &found, sizeof octets);
    address = formatText("%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    return true;
}

void TcpSocket::postStatus(const std::string& text) const {
    if (owner_ != nullptr) owner_->postStatus(text);
}

bool TcpSocket::failConnect(std::string text) {
    setLastErrorText(std::move(text));
    Close();
    return false;
}

bool TcpSocket::Connect(const std::string& hostName, uint16_t port, uint32_t timeoutMs) {
    Close();
    postStatus(kContactingText);

    uint32_t address = 0;
    const int lookupError = lookUpIpv4(hostName, address);
    if (lookupError != 0) {
        setLastErrorText(lookupFailedText(hostName, lookupError));
        return false;
    }
    peerAddress_ = address;
    // Network byte order, whatever the host's.
    const unsigned char portBytes[2] = {static_cast<unsigned char>(port >> 8), static_cast<unsigned char>(port & 0xFFu)};
    std::memcpy(&peerPort_, portBytes, sizeof peerPort_);

    if (!createSocket()) {
        setLastErrorText("Socket Creation Failed");
        return false;
    }
    if (!setBlocking(false))
        return failConnect(formatText("Socket ioctl (No Block) Failed with Error %d", socketError_));

    const int started = startConnect();
    if (started > 0) {
        setBlocking(true);
        return true;
    }
    if (started < 0) {
        // The text names the Winsock code it was written for; on Linux the numbers are errno.
        return failConnect(formatText("Got %d [0X%x] trying to Connect - Expected WSAEWOULDBLOCK", socketError_,
                                      static_cast<unsigned>(socketError_)));
    }

    const uint32_t start = tickCount();
    for (;;) {
        sleepMs(1);
        // Loads talk to the server from the user-interface thread too; its windows stay alive.
        pumpMessages();
        switch (pollConnect()) {
        case ConnectPoll::PollFailed:
            return failConnect(formatText("Socket Error Trying to Connect Error %d", socketError_));
        case ConnectPoll::Refused:
            return failConnect(formatText("Socket Error Trying to Connect Error %d", kConnectFailedCode));
        case ConnectPoll::Connected:
            if (!setBlocking(true))
                return failConnect(formatText("Socket ioctl (No Block) Failed with Error %d", socketError_));
            return true;
        case ConnectPoll::Pending:
            break;
        }
        if (elapsedSince(start) > timeoutMs)
            return failConnect(formatText("Socket Error Trying to Connect Error %d", kConnectFailedCode));
    }
}

void TcpSocket::Close() {
    if (socket_ == kNoSocket) return;
    setBlocking(true);
    closeSocket();
    socket_ = kNoSocket;
}

int TcpSocket::ReceiveWithTimeout(void* buffer, std::size_t size, uint32_t timeoutMs) {
    if (socket_ == kNoSocket) return 0;
    if (timeoutMs == 0 && HasPendingData()) return receiveNow(buffer, size);

    const uint32_t start = tickCount();
    for (;;) {
        if (!IsAlive()) return 0;
        if (elapsedSince(start) >= timeoutMs) return 0;
        pauseForData();
        pumpMessages();
        if (HasPendingData()) return receiveNow(buffer, size);
    }
}

}  // namespace korvane
