#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::padpeer {

// The master side of a fresh pseudo-terminal: the pad's end of the cable.
// The slave is what the loader opens, through a `comN` link in a device
// folder. The peer also holds the slave open itself, so that the loader may
// close and reopen its side without the line going down; unplug() closes
// both, which is what the loader sees when a USB pad is pulled out.
// Reading is for one thread at a time; another may write meanwhile, and
// received() may be asked from any thread.
class PtyPeer {
public:
    PtyPeer();  // throws std::runtime_error when no pseudo-terminal can be had
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    // The slave descriptor the peer holds (-1 once unplugged); e.g. to read
    // the line settings without opening the device again.
    int slaveDescriptor() const { return slave_; }

    // Makes the slave port number `portNumber`: `folder`/comN, a symbolic
    // link to the slave (an entry already there is replaced). The folder is
    // created when missing. Returns the link's path.
    std::string linkAs(const std::string& folder, int portNumber) const;

    // Writes every byte; false when the line is down or no byte could be
    // written for `timeoutMs` (the loader does not read).
    bool write(std::string_view bytes, uint32_t timeoutMs = 10000);

    // Up to `count` bytes, waiting at most `timeoutMs` for all of them.
    std::string read(size_t count, uint32_t timeoutMs);
    std::optional<char> readByte(uint32_t timeoutMs);
    // Everything that arrives until nothing has come for `quietMs`.
    std::string readUntilQuiet(uint32_t quietMs);
    // The next frame (STX through the byte after ETX); bytes before its STX
    // are dropped. Nothing within `timeoutMs`: nullopt, and a partial frame
    // stays for the next call.
    std::optional<std::string> readFrame(uint32_t timeoutMs);
    // Puts a byte back in front of what is still to be read.
    void unread(char byte);
    // True when bytes have arrived that no read has taken yet.
    bool hasInput();

    // The cable is pulled: master and the held slave are closed.
    void unplug();
    bool plugged() const { return master_ >= 0; }

    // Every byte read from the line so far, in order.
    std::string received() const;

private:
    bool fill(uint32_t timeoutMs);

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string inbox_;  // read from the line, not yet taken
    mutable std::mutex recordLock_;
    std::string received_;
};

}  // namespace korvane::padpeer
