// The parts of the secure channel that are the same on every platform; the
// TLS engine itself is the backend's (SecureChannelSession.cpp).
#include "server/SecureChannel.h"

#include <new>

namespace korvane {

bool SecureChannel::Open(const std::string& hostName, uint16_t port, uint32_t connectTimeoutMs) {
    Disconnect();
    if (!Connect(hostName, port, connectTimeoutMs)) return false;
    targetName_ = hostName;
    if (!PerformHandshake()) {
        Disconnect();
        return false;
    }
    if (!SetContextSizes()) {
        NotifyShutdown();
        Disconnect();
        return false;
    }
    connected_ = true;
    return true;
}

void SecureChannel::Disconnect() {
    if (connected_) {
        NotifyShutdown();
        connected_ = false;
    }
    releaseContext();
    pendingData_.clear();
    Close();
}

bool SecureChannel::reserveMessageBuffer() {
    // Kept from the first connection on, and grown if a later one needs more.
    const std::size_t needed = headerSize_ + maximumMessage_ + trailerSize_;
    if (messageBuffer_.size() >= needed) return true;
    try {
        messageBuffer_.resize(needed);
    } catch (const std::bad_alloc&) {
        setLastErrorText("Out of Memory(SetContextSizes)");
        return false;
    }
    return true;
}

}  // namespace korvane
