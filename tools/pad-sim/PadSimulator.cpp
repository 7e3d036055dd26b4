#include "tools/pad-sim/PadSimulator.h"

#include "platform/ComPortDevices.h"
#include "tools/padpeer/PeerFrame.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace korvane::padsim {
namespace {

constexpr uint32_t kLookMs = 20;  // short looks, so that stop() is answered quickly

std::string brief(const std::string& text) {
    // A file block is shown by its header only.
    return printable(text.substr(0, 3) == "62." ? text.substr(0, 13) + "..." : text, 60);
}

bool inScope(const PadFault& fault, const std::string& text) {
    return fault.scope.empty() || text.compare(0, 3, fault.scope + ".") == 0;
}

const char* faultName(PadFault::Kind kind) {
    switch (kind) {
    case PadFault::Kind::nak: return "nak";
    case PadFault::Kind::silent: return "silent";
    case PadFault::Kind::corruptReply: return "corrupt-reply";
    case PadFault::Kind::dropAfterBlock: return "drop-after-block";
    case PadFault::Kind::refuseFile: return "refuse-file";
    case PadFault::Kind::unknownRequest: return "unknown-request";
    case PadFault::Kind::stayDown: return "stay-down";
    case PadFault::Kind::refuseAfterRestart: return "refuse-after-restart";
    case PadFault::Kind::shortReply: return "short-reply";
    case PadFault::Kind::badStatus: return "status";
    }
    return "";
}

}  // namespace

PadSimulator::PadSimulator(const PadSimOptions& options, Log log)
    : options_(options), log_(std::move(log)), pacer_(options.baud, stopping_), pad_(options), faults_(options.faults) {}

PadSimulator::~PadSimulator() { stop(); }

bool PadSimulator::start(std::string& error) {
    if (thread_.joinable()) return true;
    try {
        line_ = std::make_unique<padpeer::PtyPeer>();
        const std::string folder = options_.deviceDir.empty() ? comPortDeviceFolder() : options_.deviceDir;
        linkPath_ = line_->linkAs(folder, options_.port);
    } catch (const std::exception& failure) {
        error = failure.what();
        line_.reset();
        return false;
    }
    say("pad ready on com" + std::to_string(options_.port) + " -> " + line_->slavePath());
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void PadSimulator::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (summarised_ || !line_) return;
    summarised_ = true;
    noteStray();
    if (!options_.recordFile.empty()) recordReceived();
    say(summary());
}

void PadSimulator::recordReceived() {
    const std::string bytes = line_->received();
    std::FILE* file = std::fopen(options_.recordFile.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && std::fclose(file) == 0 && written) return;
    say("error: cannot write the record " + options_.recordFile);
}

const std::string& PadSimulator::devicePath() const {
    static const std::string none;
    return line_ ? line_->slavePath() : none;
}

std::string PadSimulator::parameter(const std::string& key) const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.parameter(key);
}

std::string PadSimulator::parameterListing() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.parameterListing();
}

bool PadSimulator::hasFile(const std::string& name) const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.hasFile(name);
}

std::string PadSimulator::file(const std::string& name) const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.file(name);
}

std::string PadSimulator::appVersion() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.appVersion();
}

int PadSimulator::filesReceived() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.filesReceived();
}

std::vector<std::string> PadSimulator::messages() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return messages_;
}

std::vector<std::string> PadSimulator::violations() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return violations_;
}

std::string PadSimulator::summary() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return "summary: " + std::to_string(messages_.size()) + " messages, " + std::to_string(pad_.filesReceived()) +
           " files received, violations: " + std::to_string(violations_.size());
}

void PadSimulator::violation(const std::string& what) {
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        violations_.push_back(what);
    }
    say("violation: " + what);
}

bool PadSimulator::lineIgnored() const { return dropping_ || Clock::now() < silentUntil_; }

void PadSimulator::noteStray() {
    if (stray_.empty()) return;
    if (!lineIgnored()) violation(std::to_string(stray_.size()) + " bytes outside any frame: " + printable(stray_, 60));
    stray_.clear();
}

void PadSimulator::say(const std::string& line) {
    if (!line.empty() && log_) log_(line);
}

bool PadSimulator::takeFault(PadFault::Kind kind, const std::string& text) {
    for (PadFault& fault : faults_) {
        if (fault.kind != kind || fault.count <= 0 || !inScope(fault, text)) continue;
        --fault.count;
        return true;
    }
    return false;
}

void PadSimulator::run() {
    while (!stopping_ && line_->plugged()) {
        const std::optional<LineFrame> frame = readFrame();
        if (!frame) continue;
        answerFrame(*frame, Clock::now());
    }
}

// Payload bytes below 20 travel escaped, so a second STX inside a frame is
// the loader's fault; the frame still runs to its ETX and its check byte.
std::optional<PadSimulator::LineFrame> PadSimulator::readFrame() {
    for (;;) {
        const std::optional<char> byte = line_->readByte(kLookMs);
        if (!byte) {
            noteStray();
            return std::nullopt;
        }
        if (*byte == padpeer::kStx) break;
        stray_ += *byte;
        if (stopping_) return std::nullopt;
    }
    noteStray();
    LineFrame frame;
    frame.bytes = std::string(1, padpeer::kStx);
    for (;;) {
        const std::optional<char> byte = line_->readByte(kByteGapMs);
        if (!byte) return frame;
        frame.bytes += *byte;
        if (*byte == padpeer::kEtx) {
            const std::optional<char> check = line_->readByte(kByteGapMs);
            if (!check) return frame;
            frame.bytes += *check;
            frame.complete = true;
            return frame;
        }
        if (*byte == padpeer::kStx) frame.innerStx = true;
        frame.text += *byte;
    }
}

void PadSimulator::acknowledge(const LineFrame& frame, Clock::time_point arrived) {
    // The loader waits for each frame's acknowledgement before it sends anything more.
    if (line_->hasInput()) violation("more bytes came before \"" + brief(frame.text) + "\" was acknowledged");
    pacer_.pace(frame.bytes.size() + 1, arrived);
    line_->write(std::string(1, padpeer::kAck));
}

void PadSimulator::answerFrame(const LineFrame& frame, Clock::time_point arrived) {
    ++framesReceived_;
    frameBytesReceived_ += static_cast<long long>(frame.bytes.size());
    const bool ignored = lineIgnored();
    if (frame.innerStx && !ignored) violation("an STX inside the frame \"" + brief(frame.text) + "\"");
    if (!frame.complete || !padpeer::isGoodFrame(frame.bytes)) {
        if (!ignored)
            violation(frame.complete ? "bad check byte on \"" + brief(frame.text) + "\": NAK"
                                     : "frame cut short after " + std::to_string(frame.bytes.size()) + " bytes (\"" +
                                           brief(frame.text) + "\"): NAK");
        pacer_.pace(frame.bytes.size() + 1, arrived);
        line_->write(std::string(1, padpeer::kNak));
        lastChecked_.clear();
        return;
    }
    const std::string& text = frame.text;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        messages_.push_back(text);
    }
    // A frame sent again because no ACK came is the same frame, not the next one.
    if (text != lastChecked_)
        for (const std::string& what : checks_.check(text)) violation(what);
    lastChecked_ = text;
    if (arrived < silentUntil_) {
        say("silent (restarting): \"" + brief(text) + "\" not answered");
        return;
    }
    if (dropping_) {
        if (!FileAssembly::isFirstBlock(text)) {
            say("line dropped: \"" + brief(text) + "\" not answered");
            return;
        }
        dropping_ = false;
    }
    if (text.compare(0, 3, "62.") == 0 && !FileAssembly::isFirstBlock(text)) {
        std::lock_guard<std::mutex> guard(stateLock_);
        for (PadFault& fault : faults_) {
            if (fault.kind != PadFault::Kind::dropAfterBlock || fault.count <= 0) continue;
            if (!pad_.download().active() || pad_.download().blocks() < fault.block) continue;
            --fault.count;
            dropping_ = true;
            say("fault drop-after-block: line dropped after block " + std::to_string(fault.block) + " of " +
                printable(pad_.download().name()));
            return;
        }
    }
    if (takeFault(PadFault::Kind::silent, text)) {
        say("fault silent: \"" + brief(text) + "\" not answered");
        return;
    }
    if (takeFault(PadFault::Kind::nak, text)) {
        say("fault nak: \"" + brief(text) + "\" refused");
        pacer_.pace(frame.bytes.size() + 1, arrived);
        line_->write(std::string(1, padpeer::kNak));
        return;
    }

    acknowledge(frame, arrived);
    lastChecked_.clear();
    PadAnswer answer;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        answer = pad_.handle(text);
    }
    say(answer.log);
    if (answer.delayMs > 0) pacer_.pause(std::chrono::milliseconds(answer.delayMs));
    for (const std::string& reply : answer.replies) sendReply(reply, text);
    if (answer.silentMs > 0) silentUntil_ = Clock::now() + std::chrono::milliseconds(answer.silentMs);
}

void PadSimulator::sendReply(const std::string& text, const std::string& request) {
    for (int transmission = 0; transmission < kReplyTransmissions && !stopping_; ++transmission) {
        std::string frame = padpeer::frameOf(text);
        const bool corrupted = takeFault(PadFault::Kind::corruptReply, request);
        if (corrupted) {
            frame = padpeer::withBadCheck(frame);
            say(std::string("fault ") + faultName(PadFault::Kind::corruptReply) + ": \"" + brief(text) +
                "\" sent with a wrong check byte");
        }
        pacer_.pace(frame.size(), Clock::now());
        if (!line_->write(frame)) return;
        const std::optional<char> answer = line_->readByte(kReplyAckWaitMs);
        if (!answer) {
            violation("reply \"" + brief(text) + "\" not acknowledged within " + std::to_string(kReplyAckWaitMs) +
                      " ms");
            return;
        }
        if (*answer == padpeer::kAck) {
            if (corrupted) violation("reply \"" + brief(text) + "\" with a wrong check byte acknowledged (ACK)");
            return;
        }
        if (*answer != padpeer::kNak) {
            line_->unread(*answer);
            if (*answer == padpeer::kStx) {
                violation("a new frame while the reply \"" + brief(text) + "\" awaited its acknowledgement");
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(*answer));
                violation("reply \"" + brief(text) + "\" answered with byte " + hex + ", neither ACK nor NAK");
            }
            return;
        }
        if (!corrupted) violation("reply \"" + brief(text) + "\" refused (NAK) although its check byte was right");
        else if (options_.verbose) say("reply \"" + brief(text) + "\" refused (NAK)");
    }
}

}  // namespace korvane::padsim
