#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane::test {

// The loader's end of an Equinox line, scripted by a test: it frames and
// reads every message itself (STX, text, ETX, the XOR check byte), so that
// the pad simulator is checked against the protocol and not against the
// loader's own encoders.
class ScriptedEquinoxClient {
public:
    static constexpr char kStx = 0x02;
    static constexpr char kEtx = 0x03;
    static constexpr char kAck = 0x06;
    static constexpr char kNak = 0x15;
    static constexpr char kFs = 0x1C;

    ~ScriptedEquinoxClient();

    // Opens the device (e.g. the simulator's comN link) raw; false on failure.
    bool open(const std::string& path);
    void close();

    static std::string frame(const std::string& text);
    // "PL5" FS flag, the five-digit length (or `lengthText` in its place), name, FS, data.
    static std::string chunk(char flag, const std::string& name, const std::string& data,
                             const std::string& lengthText = "");

    bool write(const std::string& bytes);
    std::optional<char> readByte(uint32_t timeoutMs);
    // The next frame, STX through the check byte; bytes before STX are dropped.
    std::optional<std::string> readFrame(uint32_t timeoutMs);
    static std::string textOf(const std::string& frame);
    static bool checks(const std::string& frame);

    // Writes the framed text; the byte that answered it (ACK, NAK), nullopt for silence.
    std::optional<char> send(const std::string& text, uint32_t ackTimeoutMs = 2000);
    // Reads one reply as the loader does: "HY" segments up to an "HN" one, or
    // one plain frame; each frame is checked and acknowledged, `most` frames at
    // most. The texts of the frames as they came; empty when nothing came in time.
    std::vector<std::string> readReply(uint32_t timeoutMs = 3000, size_t most = 10);
    // The reply's text with the segment headers ("HY"/"HN" and three characters) taken off.
    static std::string joined(const std::vector<std::string>& frames);
    // send() then, when ACKed, readReply(); the joined text, or "<no ack>" / "<no reply>".
    std::string transact(const std::string& text);

    // Everything that arrives within `quietMs` of the last byte.
    std::string drain(uint32_t quietMs);

private:
    int fd_ = -1;
    std::string inbox_;
};

}  // namespace korvane::test
