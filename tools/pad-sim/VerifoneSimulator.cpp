#include "tools/pad-sim/VerifoneSimulator.h"

#include "platform/ComPortDevices.h"

#include <termios.h>

namespace korvane::padsim {
namespace {

constexpr char kFs = '\x1c';
constexpr char kGs = '\x1d';
constexpr const char* kStatusOk = "00";

// Every byte readable in a log line: control bytes as <XX>.
std::string printable(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            shown += c;
        } else {
            shown += '<';
            shown += hex[byte >> 4];
            shown += hex[byte & 15];
            shown += '>';
        }
    }
    return shown;
}

// `text` cut or padded on the right with `fill` to exactly `width` characters.
std::string field(const std::string& text, size_t width, char fill) {
    std::string result = text.substr(0, width);
    result.resize(width, fill);
    return result;
}

// Right-aligned in `width` digits with leading zeros.
std::string zeroPadded(const std::string& text, size_t width) {
    return text.size() >= width ? text.substr(text.size() - width) : std::string(width - text.size(), '0') + text;
}

int baudOf(speed_t speed) {
    switch (speed) {
        case B300: return 300;
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        default: return 0;
    }
}

}  // namespace

bool isVerifoneModel(const std::string& model) { return model == kVx805Model || model == kP400Model; }

VerifoneSimulator::VerifoneSimulator(const PadSimOptions& options, Log log)
    : options_(options), log_(std::move(log)) {
    for (const PadFault& fault : options.faults)
        if (fault.kind == PadFault::Kind::shortReply || fault.kind == PadFault::Kind::badStatus)
            faults_.push_back(fault);
}

VerifoneSimulator::~VerifoneSimulator() {
    if (peer_) peer_->stop();
}

bool VerifoneSimulator::start(std::string& error) {
    if (peer_) return true;
    try {
        line_ = std::make_unique<padpeer::PtyPeer>();
        const std::string folder = options_.deviceDir.empty() ? comPortDeviceFolder() : options_.deviceDir;
        line_->linkAs(folder, options_.port);
    } catch (const std::exception& failure) {
        error = failure.what();
        line_.reset();
        return false;
    }
    say("pad ready on com" + std::to_string(options_.port) + " -> " + line_->slavePath());
    say("Verifone " + options_.model + ": identifies at " + std::to_string(options_.model == kVx805Model ? 9600 : 115200) +
        " baud as \"" + (options_.model == kVx805Model ? "VX805" : "P400") + "\", application " +
        options_.appVersion + ", OEM " + options_.oemId);
    peer_ = std::make_unique<padpeer::PadPeer>(*line_, [this](const std::string& text) { return answer(text); });
    for (const PadFault& fault : options_.faults) {
        const int count = static_cast<int>(fault.count);
        if (fault.kind == PadFault::Kind::nak) peer_->nakNextFrames(count);
        if (fault.kind == PadFault::Kind::silent) peer_->ignoreNextFrames(count);
        if (fault.kind == PadFault::Kind::corruptReply) peer_->corruptNextReplies(count);
    }
    peer_->start();
    return true;
}

void VerifoneSimulator::stop() {
    if (stopped_) return;
    stopped_ = true;
    if (peer_) peer_->stop();
    std::lock_guard<std::mutex> guard(stateLock_);
    say("summary: " + std::to_string(messages_.size()) + " messages, " + std::to_string(downloadModes_.size()) +
        " download-mode requests, violations: " + std::to_string(violations_.size()));
}

std::vector<std::string> VerifoneSimulator::messages() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return messages_;
}

std::vector<std::string> VerifoneSimulator::downloadModes() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return downloadModes_;
}

std::vector<std::string> VerifoneSimulator::violations() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return violations_;
}

// Positions count from the STX: status at 1-2, model 3-7, serial number
// 8-19, application version 20-28 (nine digits), filler 29-46, OEM
// identifier 47-62 (padded with spaces).
std::string VerifoneSimulator::serialReply(const std::string& status) const {
    const std::string model = options_.model == kVx805Model ? "VX805" : "P400";
    return field(status, 2, '0') + field(model, 5, ' ') + field(options_.serialNumber, 12, ' ') +
           zeroPadded(options_.appVersion, 9) + std::string(18, '-') + field(options_.oemId, 16, ' ');
}

// "S95", the status at 4-5, then GS "11" model, FS "12" version, FS "15" OEM.
std::string VerifoneSimulator::tagsReply(const std::string& status) const {
    const std::string model = options_.model == kVx805Model ? "VX805" : "P400";
    return "S95" + status + kGs + "11" + model + kFs + "12" + zeroPadded(options_.appVersion, 9) + kFs + "15" +
           options_.oemId;
}

const PadFault* VerifoneSimulator::takeFault(PadFault::Kind kind) {
    for (PadFault& fault : faults_) {
        if (fault.kind != kind || fault.count <= 0) continue;
        --fault.count;
        return &fault;
    }
    return nullptr;
}

int VerifoneSimulator::lineBaud() const {
    termios settings{};
    if (!line_ || ::tcgetattr(line_->slaveDescriptor(), &settings) != 0) return 0;
    return baudOf(cfgetospeed(&settings));
}

void VerifoneSimulator::checkSpeed(const std::string& what, int expectedBaud) {
    const int baud = lineBaud();
    if (baud != expectedBaud)
        violation(what + " at " + std::to_string(baud) + " baud, expected " + std::to_string(expectedBaud));
}

std::vector<std::string> VerifoneSimulator::answer(const std::string& text) {
    const int expectedBaud = options_.model == kVx805Model ? 9600 : 115200;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        messages_.push_back(text);
    }
    const bool fixedQuery = text == "S95";
    const bool tagsQuery = text == std::string("S95") + kFs + "11,12,15";
    if (fixedQuery || tagsQuery) {
        checkSpeed("\"" + printable(text) + "\"", expectedBaud);
        std::string status = kStatusOk;
        if (const PadFault* fault = takeFault(PadFault::Kind::badStatus)) status = fault->code;
        std::string reply = fixedQuery ? serialReply(status) : tagsReply(status);
        if (takeFault(PadFault::Kind::shortReply)) {
            reply = reply.substr(0, 1);
            say("fault short-reply: \"" + printable(text) + "\" answered \"" + reply + "\"");
        }
        say("\"" + printable(text) + "\" -> status " + status);
        return {reply};
    }
    if (text.rfind("*01P2", 0) == 0) {
        checkSpeed("download-mode request", expectedBaud);
        const std::string mode = text.substr(5);
        if (mode != "U" && mode != "1") {
            violation("download-mode request \"" + printable(text) + "\": \"*01P2\" is followed by U or 1");
            return {};
        }
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            downloadModes_.push_back(mode);
        }
        say("download mode: " + mode + (mode == "U" ? " (USB)" : " (serial)"));
        return {};
    }
    if (text.rfind("Z8", 0) == 0) {
        checkSpeed("\"Z8\"", expectedBaud);
        const std::string ending = std::string(3, kFs);
        if (text.size() < 5 || text.compare(text.size() - 3, 3, ending) != 0) {
            violation("\"" + printable(text) + "\": a Z8 message ends with FS FS FS");
            return {};
        }
        say("Z8: " + printable(text.substr(2, text.size() - 5)));
        return {"Z800"};
    }
    violation("unknown message \"" + printable(text) + "\"");
    return {};
}

void VerifoneSimulator::violation(const std::string& what) {
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        violations_.push_back(what);
    }
    say("violation: " + what);
}

void VerifoneSimulator::say(const std::string& line) {
    if (log_) log_(line);
}

}  // namespace korvane::padsim
