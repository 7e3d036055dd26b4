#include "tools/pad-sim/EquinoxSimulator.h"

#include "platform/ComPortDevices.h"
#include "tools/pad-sim/SimulatedPad.h"
#include "tools/padpeer/PeerFrame.h"
#include "tools/padpeer/PortLink.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <sys/ioctl.h>

namespace korvane::padsim {
namespace {

constexpr uint32_t kLookMs = 20;    // short looks, so that stop() is answered quickly
constexpr uint32_t kQuietMs = 300;  // a frame whose length field cannot be trusted ends when the line goes quiet
constexpr char kFs = 0x1C;
constexpr size_t kChunkHeader = 6;   // flag and five digits
constexpr size_t kLongestName = 255; // past this without FS the header cannot be read
const std::string kChunkStart = std::string("PL5") + kFs;

std::string brief(const std::string& text) {
    // A chunk is shown by its header only.
    if (text.compare(0, 4, kChunkStart) == 0) {
        const size_t nameEnd = text.find(kFs, 10);
        return printable(text.substr(0, nameEnd == std::string::npos ? 50 : nameEnd + 1), 70) + "...";
    }
    return printable(text, 70);
}

bool inScope(const PadFault& fault, const std::string& text) {
    return fault.scope.empty() || text.compare(0, fault.scope.size(), fault.scope) == 0;
}

// A reply as the loader reads it: one frame, or, longer than `size`, "HY"
// segments and a last "HN" one, each with a three-digit segment number.
std::vector<std::string> segmentsOf(const std::string& text, size_t size) {
    if (size == 0 || text.size() <= size) return {text};
    std::vector<std::string> segments;
    for (size_t at = 0; at < text.size(); at += size) {
        const bool last = at + size >= text.size();
        char header[32];
        std::snprintf(header, sizeof header, "%s%03zu", last ? "HN" : "HY", (segments.size() + 1) % 1000);
        segments.push_back(header + text.substr(at, size));
    }
    return segments;
}

bool allDigits(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

EquinoxSimulator::EquinoxSimulator(const PadSimOptions& options, Log log)
    : options_(options), log_(std::move(log)), pacer_(options.baud, stopping_), pad_(options),
      faults_(options.faults) {}

EquinoxSimulator::~EquinoxSimulator() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

bool EquinoxSimulator::start(std::string& error) {
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
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        devicePath_ = line_->slavePath();
    }
    say("pad ready on com" + std::to_string(options_.port) + " -> " + line_->slavePath());
    say("Equinox " + options_.model + ": answers \"T\" with \"" + printable(options_.typeLetter.value_or("")) + "\"" +
        (options_.segmentSize > 0 ? ", replies in segments of " + std::to_string(options_.segmentSize) + " bytes"
                                  : std::string()));
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void EquinoxSimulator::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (stopped_ || !line_) return;
    stopped_ = true;
    std::vector<std::string> owed;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        owed = pad_.finish();
    }
    for (const std::string& what : owed) violation(what);
    say(summary());
}

std::string EquinoxSimulator::devicePath() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return devicePath_;
}

bool EquinoxSimulator::hasFile(const std::string& name) const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.hasFile(name);
}

std::string EquinoxSimulator::file(const std::string& name) const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.file(name);
}

std::vector<std::string> EquinoxSimulator::fileNames() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.fileNames();
}

std::vector<std::string> EquinoxSimulator::arrivals() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pad_.arrivals();
}

std::vector<std::string> EquinoxSimulator::messages() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return messages_;
}

std::vector<std::string> EquinoxSimulator::violations() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return violations_;
}

int EquinoxSimulator::violationCount() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return static_cast<int>(violations_.size());
}

std::string EquinoxSimulator::summary() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    int files = 0;
    for (const std::string& name : pad_.arrivals())
        if (name != "PACKINGLIST") ++files;
    return "summary: " + std::to_string(messages_.size()) + " messages, " + std::to_string(pad_.transfers()) +
           " transfers, " + std::to_string(files) + " files received, violations: " +
           std::to_string(violations_.size());
}

void EquinoxSimulator::say(const std::string& line) {
    if (!line.empty() && log_) log_(line);
}

void EquinoxSimulator::violation(const std::string& what) {
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        violations_.push_back(what);
    }
    say("violation: " + what);
}

bool EquinoxSimulator::lineIgnored() const { return down_ || Clock::now() < silentUntil_; }

const PadFault* EquinoxSimulator::takeFault(PadFault::Kind kind, const std::string& text) {
    for (PadFault& fault : faults_) {
        if (fault.kind != kind || fault.count <= 0 || !inScope(fault, text)) continue;
        --fault.count;
        return &fault;
    }
    return nullptr;
}

void EquinoxSimulator::noteStray() {
    if (stray_.empty()) return;
    if (!lineIgnored())
        violation(std::to_string(stray_.size()) + " bytes outside any frame: " + printable(stray_, 60));
    stray_.clear();
}

void EquinoxSimulator::run() {
    while (!stopping_) {
        if (!line_->plugged()) {
            if (!replugAt_) return;  // gone for good
            if (Clock::now() < *replugAt_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            replugAt_.reset();
            if (!replugLine()) return;
        }
        const std::optional<LineFrame> frame = readFrame();
        if (frame) answerFrame(*frame, Clock::now());
    }
}

void EquinoxSimulator::unplugLine() {
    // The device is gone at once: the link points to nothing, as a link to an
    // unplugged USB device does, so the loader can no longer open it.
    std::error_code error;
    padpeer::replacePortLink(linkPath_, linkPath_ + ".unplugged", error);
    if (error) say("cannot unplug the com" + std::to_string(options_.port) + " link: " + error.message());
    // The acknowledgement just sent is on the wire: let the loader take it
    // first. The terminal layer may take a moment to queue it on the
    // loader's side, so it is awaited there before it is awaited gone.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(300);
    bool queued = false;
    int unread = 0;
    while (Clock::now() < until && ::ioctl(line_->slaveDescriptor(), FIONREAD, &unread) == 0) {
        if (unread > 0) queued = true;
        else if (queued) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    line_->unplug();
    stray_.clear();
}

bool EquinoxSimulator::replugLine() {
    try {
        auto fresh = std::make_unique<padpeer::PtyPeer>();
        const std::string folder = options_.deviceDir.empty() ? comPortDeviceFolder() : options_.deviceDir;
        fresh->linkAs(folder, options_.port);
        line_ = std::move(fresh);
    } catch (const std::exception& failure) {
        say(std::string("cannot come back from the restart: ") + failure.what());
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        devicePath_ = line_->slavePath();
    }
    say("back from the restart: pad ready on com" + std::to_string(options_.port) + " -> " + line_->slavePath());
    return true;
}

std::optional<EquinoxSimulator::LineFrame> EquinoxSimulator::readFrame() {
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
            frame.goodCheck = padpeer::isGoodFrame(frame.bytes);
            return frame;
        }
        frame.text += *byte;
        if (frame.text == kChunkStart) {
            readChunkFrame(frame);
            return frame;
        }
    }
}

// The chunk's data is raw, ETX included: its length field says where the
// frame ends. When that field is no number, or no ETX stands where it points,
// the frame is taken to end where the line goes quiet (the loader then waits
// for the acknowledgement).
void EquinoxSimulator::readChunkFrame(LineFrame& frame) {
    const std::string head = line_->read(kChunkHeader, kByteGapMs);
    frame.bytes += head;
    frame.text += head;
    if (head.size() < kChunkHeader) return;
    for (;;) {
        const std::optional<char> byte = line_->readByte(kByteGapMs);
        if (!byte) return;
        frame.bytes += *byte;
        if (*byte == kFs) {
            frame.text += *byte;
            break;
        }
        if (*byte == padpeer::kEtx) {
            // A chunk without the FS after its name, short enough to end here.
            const std::optional<char> check = line_->readByte(kByteGapMs);
            if (!check) return;
            frame.bytes += *check;
            frame.complete = true;
            frame.goodCheck = padpeer::isGoodFrame(frame.bytes);
            return;
        }
        frame.text += *byte;
        if (frame.text.size() > kChunkStart.size() + kChunkHeader + kLongestName) {
            finishByQuiet(frame);
            return;
        }
    }
    const std::string lengthText = head.substr(1);
    if (!allDigits(lengthText)) {
        finishByQuiet(frame);
        return;
    }
    const size_t wanted = std::stoul(lengthText) + 2;  // the data, ETX and the check byte
    std::string rest;
    while (rest.size() < wanted) {
        const std::string piece = line_->read(std::min<size_t>(wanted - rest.size(), 4096), kByteGapMs);
        if (piece.empty()) break;
        rest += piece;
    }
    frame.bytes += rest;
    if (rest.size() == wanted && rest[wanted - 2] == padpeer::kEtx) {
        frame.text.append(rest, 0, wanted - 2);
        frame.complete = true;
        frame.goodCheck = padpeer::isGoodFrame(frame.bytes);
        return;
    }
    finishByQuiet(frame);
}

void EquinoxSimulator::finishByQuiet(LineFrame& frame) {
    frame.bytes += line_->readUntilQuiet(kQuietMs);
    const size_t size = frame.bytes.size();
    frame.complete = size >= 3 && frame.bytes[size - 2] == padpeer::kEtx;
    frame.text = frame.bytes.substr(1, frame.complete ? size - 3 : std::string::npos);
    frame.goodCheck = frame.complete && padpeer::isGoodFrame(frame.bytes);
}

void EquinoxSimulator::answerFrame(const LineFrame& frame, Clock::time_point arrived) {
    ++framesReceived_;
    frameBytesReceived_ += static_cast<long long>(frame.bytes.size());
    const bool good = frame.complete && frame.goodCheck;
    if (good) {
        std::lock_guard<std::mutex> guard(stateLock_);
        messages_.push_back(frame.text);
    }
    if (lineIgnored()) {
        say(std::string(down_ ? "down (fault stay-down)" : "silent (restarting)") + ": \"" + brief(frame.text) +
            "\" not answered");
        return;
    }
    if (refusing_) {
        say("refusing (fault refuse-after-restart): \"" + brief(frame.text) + "\" NAKed");
        pacer_.pace(frame.bytes.size() + 1, arrived);
        line_->write(std::string(1, padpeer::kNak));
        return;
    }
    if (!good) {
        violation(frame.complete ? "bad check byte on \"" + brief(frame.text) + "\": NAK"
                                 : "frame cut short after " + std::to_string(frame.bytes.size()) + " bytes (\"" +
                                       brief(frame.text) + "\"): NAK");
        refuse(frame, arrived, true);
        return;
    }
    const std::string& text = frame.text;
    if (text.compare(0, kChunkStart.size(), kChunkStart) == 0 && text == refusedChunk_ && refusals_ >= 2)
        violation("chunk \"" + brief(text) + "\" transmitted a third time; the loader sends a frame twice at most");
    if (takeFault(PadFault::Kind::silent, text)) {
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            pad_.noteFault();
        }
        say("fault silent: \"" + brief(text) + "\" not answered");
        refuse(frame, arrived, false);
        return;
    }
    if (takeFault(PadFault::Kind::nak, text)) {
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            pad_.noteFault();
        }
        say("fault nak: \"" + brief(text) + "\" refused");
        refuse(frame, arrived, true);
        return;
    }

    EquinoxAnswer answer;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        answer = pad_.handle(text);
    }
    if (answer.againAfterRestart) {
        say(answer.log);
        for (const std::string& what : answer.violations) violation(what);
        restart();
        if (refusing_) {
            say("refusing (fault refuse-after-restart): \"" + brief(text) + "\" NAKed");
            pacer_.pace(frame.bytes.size() + 1, arrived);
            line_->write(std::string(1, padpeer::kNak));
            return;
        }
        if (lineIgnored() || !line_->plugged()) {
            const char* state = down_ ? "down (fault stay-down)"
                                : line_->plugged() ? "silent (restarting)"
                                                   : "unplugged (restarting)";
            say(std::string(state) + ": \"" + brief(text) + "\" not answered");
            return;
        }
        std::lock_guard<std::mutex> guard(stateLock_);
        answer = pad_.handle(text);
    }
    acknowledge(frame, arrived);
    say(answer.log);
    for (const std::string& what : answer.violations) violation(what);
    reply(answer, text);
    if (answer.restart) restart();
}

// The loader waits for each frame's acknowledgement before it sends anything more.
void EquinoxSimulator::acknowledge(const LineFrame& frame, Clock::time_point arrived) {
    refusedChunk_.clear();
    refusals_ = 0;
    if (line_->hasInput())
        violation("more bytes came before \"" + brief(frame.text) + "\" was acknowledged");
    pacer_.pace(frame.bytes.size() + 1, arrived);
    line_->write(std::string(1, padpeer::kAck));
}

// A NAK, or no answer at all: either way the loader may send the frame once more.
void EquinoxSimulator::refuse(const LineFrame& frame, Clock::time_point arrived, bool nak) {
    if (frame.text == refusedChunk_) {
        ++refusals_;
    } else {
        refusedChunk_ = frame.text.compare(0, kChunkStart.size(), kChunkStart) == 0 ? frame.text : std::string();
        refusals_ = refusedChunk_.empty() ? 0 : 1;
    }
    if (!nak) return;
    pacer_.pace(frame.bytes.size() + 1, arrived);
    line_->write(std::string(1, padpeer::kNak));
}

void EquinoxSimulator::reply(const EquinoxAnswer& answer, const std::string& request) {
    const size_t segmentSize = answer.segmentable ? options_.segmentSize : 0;
    for (const std::string& text : answer.replies) {
        const std::vector<std::string> frames = segmentsOf(text, segmentSize);
        if (frames.size() > kMostSegments)
            say("reply \"" + brief(text) + "\" in " + std::to_string(frames.size()) +
                " segments: the loader reads only " + std::to_string(kMostSegments) + " frames of one reply");
        else if (frames.size() > 1 && options_.verbose)
            say("reply \"" + brief(text) + "\" in " + std::to_string(frames.size()) + " segments");
        for (size_t i = 0; i < frames.size(); ++i)
            if (!sendReplyFrame(frames[i], request, i < kMostSegments)) return;
    }
}

bool EquinoxSimulator::sendReplyFrame(const std::string& text, const std::string& request, bool awaited) {
    for (int transmission = 0; transmission < kReplyTransmissions && !stopping_; ++transmission) {
        std::string frame = padpeer::frameOf(text);
        const bool corrupted = takeFault(PadFault::Kind::corruptReply, request);
        if (corrupted) {
            frame = padpeer::withBadCheck(frame);
            say("fault corrupt-reply: \"" + brief(text) + "\" sent with a wrong check byte");
        }
        pacer_.pace(frame.size(), Clock::now());
        if (!line_->write(frame)) return false;
        const std::optional<char> answer = line_->readByte(kReplyAckWaitMs);
        if (!answer) {
            const std::string what =
                "reply \"" + brief(text) + "\" not acknowledged within " + std::to_string(kReplyAckWaitMs) + " ms";
            if (awaited) violation(what);
            else say(what + ", as the loader has stopped reading");
            return false;
        }
        if (*answer == padpeer::kAck) {
            if (corrupted) violation("reply \"" + brief(text) + "\" with a wrong check byte acknowledged (ACK)");
            return true;
        }
        if (*answer != padpeer::kNak) {
            line_->unread(*answer);
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(*answer));
            violation("reply \"" + brief(text) + "\" answered with byte " + hex + ", neither ACK nor NAK");
            return false;
        }
        if (!corrupted) violation("reply \"" + brief(text) + "\" refused (NAK) although its check byte was right");
        else if (options_.verbose) say("reply \"" + brief(text) + "\" refused (NAK)");
    }
    return false;
}

void EquinoxSimulator::restart() {
    if (const PadFault* fault = takeFault(PadFault::Kind::stayDown, "")) {
        down_ = true;
        if (fault->code == "unplug") {
            // The port can no longer be opened: the device and its link are gone.
            unplugLine();
            say("fault stay-down=unplug: restarting, and the line is gone for good");
            return;
        }
        say("fault stay-down: restarting, and never answering again");
        return;
    }
    if (takeFault(PadFault::Kind::refuseAfterRestart, "")) {
        refusing_ = true;
        say("fault refuse-after-restart: restarting, and refusing every frame from now on");
        return;
    }
    if (options_.restartUnplug) {
        unplugLine();
        replugAt_ = Clock::now() + std::chrono::milliseconds(options_.restartMs);
        say("restarting: the line is gone for " + std::to_string(options_.restartMs) + " ms");
        return;
    }
    silentUntil_ = Clock::now() + std::chrono::milliseconds(options_.restartMs);
    say("restarting: silent for " + std::to_string(options_.restartMs) + " ms");
}

}  // namespace korvane::padsim
