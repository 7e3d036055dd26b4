#pragma once

#include "tools/pad-sim/PadSimOptions.h"
#include "tools/padpeer/PadPeer.h"
#include "tools/padpeer/PtyPeer.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace korvane::padsim {

// The Verifone models the simulator can be, by --model.
inline constexpr char kVx805Model[] = "Vx805";
inline constexpr char kP400Model[] = "P400";
bool isVerifoneModel(const std::string& model);

// A Verifone Vx805 or P400 on a pseudo-terminal, as far as the loader talks
// to it: the identity queries ("S95" with its fixed-position reply, "S95" FS
// "11,12,15" with its tagged one), the download-mode request ("*01P2" and "U"
// or "1", acknowledged only) and the text message ("Z8" text FS FS FS). The
// files themselves go over with the vendor's download program, not here.
//
// Strict: every message it does not know, a malformed one, and one at a line
// speed the pad does not use (Vx805 identification at 9600 baud, everything
// else at 115200) is logged as "violation: ..." and counted.
class VerifoneSimulator {
public:
    using Log = std::function<void(const std::string& line)>;

    VerifoneSimulator(const PadSimOptions& options, Log log);
    ~VerifoneSimulator();
    VerifoneSimulator(const VerifoneSimulator&) = delete;
    VerifoneSimulator& operator=(const VerifoneSimulator&) = delete;

    // Opens the pseudo-terminal, links it as comN and starts answering; logs
    // "pad ready on comN -> DEVICE" first. False with a reason.
    bool start(std::string& error);
    // Stops answering and logs the summary line (first call only).
    void stop();

    // What the pad saw, in order: message texts, and the download-mode
    // requests by their last character ("U" or "1").
    std::vector<std::string> messages() const;
    std::vector<std::string> downloadModes() const;
    std::vector<std::string> violations() const;

    // The replies, as the pad builds them from its identity (exposed for tests).
    std::string serialReply(const std::string& status) const;
    std::string tagsReply(const std::string& status) const;

private:
    std::vector<std::string> answer(const std::string& text);
    // The fault that strikes now (counted down), or nullptr.
    const PadFault* takeFault(PadFault::Kind kind);
    void checkSpeed(const std::string& what, int expectedBaud);
    int lineBaud() const;
    void violation(const std::string& what);
    void say(const std::string& line);

    PadSimOptions options_;
    Log log_;
    std::unique_ptr<padpeer::PtyPeer> line_;
    std::unique_ptr<padpeer::PadPeer> peer_;
    bool stopped_ = false;

    mutable std::mutex stateLock_;
    std::vector<PadFault> faults_;  // the reply faults, counted down as they strike
    std::vector<std::string> messages_;
    std::vector<std::string> downloadModes_;
    std::vector<std::string> violations_;
};

}  // namespace korvane::padsim
