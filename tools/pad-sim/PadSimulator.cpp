#include "tools/pad-sim/PadSimulator.h"

#include "platform/ComPortDevices.h"
#include "tools/padpeer/PeerFrame.h"

#include <algorithm>
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
        const std::optional<std::string> frame = line_->readFrame(kLookMs);
        if (!frame) continue;
        answerFrame(*frame, Clock::now());
    }
}

void PadSimulator::answerFrame(const std::string& frame, Clock::time_point arrived) {
    ++framesReceived_;
    frameBytesReceived_ += static_cast<long long>(frame.size());
    if (!padpeer::isGoodFrame(frame)) {
        if (options_.verbose) say("bad check byte on \"" + brief(padpeer::textOf(frame)) + "\": NAK");
        pacer_.pace(frame.size() + 1, arrived);
        line_->write(std::string(1, padpeer::kNak));
        return;
    }
    const std::string text = padpeer::textOf(frame);
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        messages_.push_back(text);
    }
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
        pacer_.pace(frame.size() + 1, arrived);
        line_->write(std::string(1, padpeer::kNak));
        return;
    }

    pacer_.pace(frame.size() + 1, arrived);
    line_->write(std::string(1, padpeer::kAck));
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
        if (takeFault(PadFault::Kind::corruptReply, request)) {
            frame = padpeer::withBadCheck(frame);
            say(std::string("fault ") + faultName(PadFault::Kind::corruptReply) + ": \"" + brief(text) +
                "\" sent with a wrong check byte");
        }
        pacer_.pace(frame.size(), Clock::now());
        if (!line_->write(frame)) return;
        const std::optional<char> answer = line_->readByte(kReplyAckWaitMs);
        if (!answer) return;
        if (*answer == padpeer::kAck) return;
        if (*answer != padpeer::kNak) {
            // The loader has moved on to its next frame.
            line_->unread(*answer);
            return;
        }
        if (options_.verbose) say("reply \"" + brief(text) + "\" refused (NAK)");
    }
}

}  // namespace korvane::padsim
