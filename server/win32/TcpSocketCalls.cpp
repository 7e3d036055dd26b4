// The socket calls on Windows: Winsock 2.2, WSAGetLastError as the error number.
#include "server/TcpSocket.h"

#include "server/FormatText.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>

namespace korvane {

namespace {

constexpr int kSendFailedCode = 3003;
constexpr WORD kWinsockVersion = 0x0202;

SOCKET handleOf(std::intptr_t socket) { return static_cast<SOCKET>(socket); }

}  // namespace

TcpSocket::TcpSocket() {
    WSADATA startup{};
    const int result = WSAStartup(kWinsockVersion, &startup);
    networkStarted_ = result == 0;
    if (!networkStarted_) setLastErrorText(formatText("Winsock Failed to Start Error %d", result));
}

TcpSocket::~TcpSocket() {
    Close();
    if (networkStarted_) WSACleanup();
}

int TcpSocket::lookUpIpv4(const std::string& hostName, uint32_t& addressNetworkOrder) {
    // LookUp may run before any socket object has started Winsock; the
    // start-up is counted, so a nested pair costs nothing inside Connect.
    WSADATA startup{};
    const int started = WSAStartup(kWinsockVersion, &startup);
    int result = 0;
    const hostent* entry = gethostbyname(hostName.c_str());
    if (entry == nullptr) {
        const int error = WSAGetLastError();
        result = error != 0 ? error : WSAHOST_NOT_FOUND;
    } else if (entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list[0] == nullptr) {
        result = WSANO_DATA;
    } else {
        std::memcpy(&addressNetworkOrder, entry->h_addr_list[0], sizeof addressNetworkOrder);
    }
    if (started == 0) WSACleanup();
    return result;
}

bool TcpSocket::createSocket() {
    const SOCKET created = ::socket(AF_INET, SOCK_STREAM, 0);
    if (created == INVALID_SOCKET) {
        socketError_ = WSAGetLastError();
        return false;
    }
    socket_ = static_cast<std::intptr_t>(created);
    return true;
}

bool TcpSocket::setBlocking(bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    if (ioctlsocket(handleOf(socket_), FIONBIO, &nonBlocking) == 0) return true;
    socketError_ = WSAGetLastError();
    return false;
}

int TcpSocket::startConnect() {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = peerPort_;
    peer.sin_addr.s_addr = peerAddress_;
    if (::connect(handleOf(socket_), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 1;
    socketError_ = WSAGetLastError();
    return socketError_ == WSAEWOULDBLOCK ? 0 : -1;
}

TcpSocket::ConnectPoll TcpSocket::pollConnect() {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(handleOf(socket_), &writable);
    FD_SET(handleOf(socket_), &failed);
    timeval noWait{0, 0};
    if (select(0, nullptr, &writable, &failed, &noWait) == SOCKET_ERROR) {
        socketError_ = WSAGetLastError();
        return ConnectPoll::PollFailed;
    }
    if (FD_ISSET(handleOf(socket_), &writable)) return ConnectPoll::Connected;
    // A refused connect shows in the exception set.
    if (FD_ISSET(handleOf(socket_), &failed)) return ConnectPoll::Refused;
    return ConnectPoll::Pending;
}

void TcpSocket::closeSocket() {
    shutdown(handleOf(socket_), SD_BOTH);
    closesocket(handleOf(socket_));
}

bool TcpSocket::HasPendingData() {
    if (socket_ == kNoSocket) return false;
    u_long available = 0;
    return ioctlsocket(handleOf(socket_), FIONREAD, &available) == 0 && available > 0;
}

bool TcpSocket::IsAlive() {
    if (socket_ == kNoSocket) return false;
    const SOCKET handle = handleOf(socket_);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval noWait{0, 0};
    const int ready = select(0, &readable, nullptr, nullptr, &noWait);
    if (ready == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error == WSAENOTSOCK || error == WSAENETDOWN || error == WSANOTINITIALISED) return false;
    }
    const bool wasReadable = ready > 0 && FD_ISSET(handle, &readable);

    setBlocking(false);
    char peeked = 0;
    int count = recv(handle, &peeked, 1, MSG_PEEK);
    const int peekError = count == SOCKET_ERROR ? WSAGetLastError() : 0;
    setBlocking(true);
    if (count == SOCKET_ERROR) {
        switch (peekError) {
        case WSAEINTR:
        case WSAEFAULT:
        case WSAEINVAL:
        case WSAENOTSOCK:
        case WSAEMSGSIZE:
        case WSAEOPNOTSUPP:
        case WSAENETDOWN:
        case WSAENETRESET:
        case WSAECONNABORTED:
        case WSAEISCONN:
        case WSAESHUTDOWN:
        case WSAETIMEDOUT:
        case WSAECONNRESET:
            return false;
        case WSAEINPROGRESS:
            return true;
        case WSAEWOULDBLOCK:
            count = 0;
            break;
        default:
            break;
        }
    }
    // Readable yet nothing to read is an orderly close.
    return count != 0 || !wasReadable;
}

void TcpSocket::pauseForData() { Sleep(1); }

int TcpSocket::receiveNow(void* buffer, std::size_t size) {
    const int count = recv(handleOf(socket_), static_cast<char*>(buffer), static_cast<int>(size), 0);
    if (count == SOCKET_ERROR) {
        socketError_ = WSAGetLastError();
        return -1;
    }
    return count;
}

long TcpSocket::Send(const void* data, std::size_t length) {
    if (length == 0) return 0;
    const int count = socket_ == kNoSocket
                          ? SOCKET_ERROR
                          : send(handleOf(socket_), static_cast<const char*>(data), static_cast<int>(length), 0);
    if (count == SOCKET_ERROR) {
        socketError_ = socket_ == kNoSocket ? WSAENOTSOCK : WSAGetLastError();
        setLastErrorText(formatText("Socket Error Sending %d", kSendFailedCode));
        return -1;
    }
    return count;
}

}  // namespace korvane
