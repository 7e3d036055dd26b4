#include "tools/load-server/LoadSession.h"

#include <algorithm>
#include <cctype>

#include "tools/load-server/ChallengeKey.h"
#include "tools/load-server/LoadServerOptions.h"
#include "tools/load-server/PackageFolder.h"
#include "tools/load-server/ServerTrace.h"
#include "tools/load-server/TlsConnection.h"

namespace korvane {
namespace {

constexpr const char* kSuccess = "Success";
constexpr const char* kError = "Error";
constexpr const char* kNoClosingStatus = "none";

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string item(const std::map<std::string, std::string>& items, const char* key) {
    const auto found = items.find(key);
    return found == items.end() ? std::string() : found->second;
}

// "-1" as well as "12": the client writes both counters signed.
bool parseSigned(const std::string& text, int64_t& value) {
    if (!text.empty() && text[0] == '-') {
        if (!parseDecimal(std::string_view(text).substr(1), value)) return false;
        value = -value;
        return true;
    }
    return parseDecimal(text, value);
}

}  // namespace

LoadSession::LoadSession(TlsConnection& connection, const ServerSetup& setup, long number, std::string peer)
    : connection_(connection), setup_(setup), number_(number) {
    operation_.peer = std::move(peer);
    if (fault("split-records"))
        connection_.setSplitPieces(std::stoul(setup_.options.faults.value("split-records", {}, "5")));
    if (fault("many-records"))
        connection_.setRecordSize(std::stoul(setup_.options.faults.value("many-records", {}, "8")));
}

bool LoadSession::fault(const char* name) const { return setup_.options.faults.has(name, request_); }

void LoadSession::trace(const std::string& text) const { setup_.trace.detail(number_, text); }

void LoadSession::run() {
    const int timeoutMs = setup_.options.receiveTimeoutMs;
    trace("connection from " + operation_.peer);
    if (fault("stall-handshake")) {
        trace("stalling before the handshake");
        connection_.holdUntilPeerLeaves(setup_.options.stallLimitMs);
        return;
    }
    std::string error;
    if (!connection_.handshake(kHandshakeTimeoutMs, error)) {
        trace(error);
        return;
    }
    if (fault("stall-challenge")) {
        trace("stalling instead of the challenge");
        connection_.holdUntilPeerLeaves(setup_.options.stallLimitMs);
        return;
    }
    challenge_ = makeChallenge();
    if (challenge_.empty()) {
        setup_.trace.note("no random bytes for a challenge; connection closed");
        return;
    }
    const std::string challengeMessage = textMessage(challenge_);
    trace("-> " + renderForTrace(challengeMessage));
    if (!connection_.send(challengeMessage, timeoutMs)) {
        trace("challenge not sent: " + connection_.lastError());
        return;
    }
    operation_.startedAt = LoadRecordStore::now();
    WireMessage request;
    switch (receive(request)) {
    case Received::message: serve(request); break;
    case Received::headerTooLong:
        operation_.request = "(unreadable)";
        violation("a request header of more than " + std::to_string(kMaxHeaderBytes) + " bytes");
        respond(kError, "Request Header Too Long", {});
        break;
    case Received::badLength:
        operation_.request = "(unreadable)";
        violation("a request whose Content-Length is not a decimal");
        respond(kError, "Invalid Content-Length", {});
        break;
    case Received::tooLarge:
        operation_.request = "(unreadable)";
        violation("a request body of more than " + std::to_string(kMaxBodyBytes) + " bytes");
        respond(kError, "Request Too Large", {});
        break;
    default:
        trace("no request");
        if (buffer_.empty()) return;
        // Bytes came, but never a whole request: worth a record.
        operation_.request = "(incomplete)";
        violation("the client left a request unfinished after " + std::to_string(buffer_.size()) + " bytes");
        connectionGone_ = true;
        break;
    }
    if (!connectionGone_ && !closingRead_) readClosingStatus();
    if (!connectionGone_ && closingRead_) awaitClose();
    operation_.endedAt = LoadRecordStore::now();
    operation_.violations = joinViolations(violations_);
    if (!setup_.store.recordOperation(operation_, error)) setup_.trace.note("cannot record an operation: " + error);
}

std::string LoadSession::makeChallenge() const {
    const FaultSet& faults = setup_.options.faults;
    std::string text = setup_.options.fixedChallenge;
    if (text.empty()) {
        std::vector<uint8_t> bytes(16);
        if (!ChallengeKey::randomBytes(bytes.data(), bytes.size())) return {};
        text = hexEncode(bytes);
    }
    if (faults.has("lowercase-challenge")) text = lowerCase(text);
    if (faults.has("odd-challenge")) text = text.substr(0, 7);
    return text;
}

LoadSession::Received LoadSession::receive(WireMessage& message) {
    scanner_.reset();
    uint64_t draining = 0;  // bytes of an oversized body still to be skipped
    while (true) {
        if (draining == 0) {
            const MessageScanner::State state = scanner_.scan(buffer_);
            if (state == MessageScanner::State::headerTooLong) return Received::headerTooLong;
            if (state == MessageScanner::State::badLength) return Received::badLength;
            if (scanner_.headerComplete() && scanner_.contentLength() > kMaxBodyBytes) {
                trace("skipping an oversized body of " + std::to_string(scanner_.contentLength()) + " bytes");
                const uint64_t have = buffer_.size() - scanner_.headerLength();
                if (have >= scanner_.contentLength()) {
                    buffer_.erase(0, scanner_.headerLength() + static_cast<std::size_t>(scanner_.contentLength()));
                    return Received::tooLarge;
                }
                draining = scanner_.contentLength() - have;
                buffer_.clear();
                if (scanner_.contentLength() > kMaxDrainBytes) return Received::tooLarge;
            } else if (state == MessageScanner::State::complete) {
                const std::size_t total = scanner_.headerLength() + static_cast<std::size_t>(scanner_.contentLength());
                message = parseWireMessage(std::string_view(buffer_).substr(0, total), scanner_.headerLength());
                trace("<- " + renderForTrace(std::string_view(buffer_).substr(0, total)));
                received_.assign(buffer_, 0, total);
                receivedHeaderLength_ = scanner_.headerLength();
                buffer_.erase(0, total);
                // The client waits for an answer to every message; more bytes at once mean a wrong length.
                if (!buffer_.empty())
                    violation(std::to_string(buffer_.size()) + " bytes follow a message of Content-Length " +
                              std::to_string(scanner_.contentLength()));
                return Received::message;
            }
        }
        const std::size_t before = buffer_.size();
        const TlsConnection::Read read = connection_.readSome(buffer_, setup_.options.receiveTimeoutMs);
        if (read == TlsConnection::Read::data && draining != 0) {
            const uint64_t got = buffer_.size() - before;
            if (got < draining) {
                draining -= got;
                buffer_.clear();
                continue;
            }
            buffer_.erase(0, before + static_cast<std::size_t>(draining));
            return Received::tooLarge;
        }
        switch (read) {
        case TlsConnection::Read::data: continue;
        case TlsConnection::Read::timeout: trace("client silent"); return Received::timeout;
        case TlsConnection::Read::stopped: return Received::stopped;
        case TlsConnection::Read::peerClosed: trace("client closed the connection"); return Received::closed;
        case TlsConnection::Read::closeNotify: trace("client sent close_notify"); return Received::closeNotify;
        case TlsConnection::Read::failed: trace("read failed: " + connection_.lastError()); return Received::failed;
        }
    }
}

void LoadSession::serve(const WireMessage& request) {
    const auto items = parseItems(request.body);
    request_ = item(items, "REQ");
    operation_.request = request_.empty() ? "(none)" : request_;
    clientAnswer_ = setup_.key.answerFor(item(items, "CC"));

    const Violations found = checkRequest(received_, receivedHeaderLength_,
                                          RequestContext{challenge_, setup_.key.answerFor(challenge_)},
                                          setup_.challenges);
    for (const std::string& text : found) violation(text);

    std::string status = kError, error;
    Items extra;
    if (setup_.options.refuseViolations && !found.empty()) {
        error = "Request Breaks the Wire Format: " + found.front();
    } else if (item(items, "CR") != setup_.key.answerFor(challenge_)) {
        error = "Challenge Response Verification Failed";
    } else if (request_ == "PP_LOAD") {
        serveLoad(items, status, error, extra);
    } else if (request_ == "PP_LOAD_STATUS") {
        serveLoadStatus(items, status, error);
    } else if (request_ == "PP_APP" || request_ == "PP_CONFIG" || request_ == "PP_GET_FILE") {
        if (prepareFetch(items, status, error, extra)) {
            if (respond(status, error, extra)) download();
            return;
        }
    } else {
        error = request_.empty() ? "No Request Type" : "Unknown Request Type " + request_;
    }
    respond(status, error, extra);
}

void LoadSession::serveLoad(const std::map<std::string, std::string>& items, std::string& status, std::string& error,
                            Items& extra) {
    LoadRecordStore::LoadRequest load;
    load.installationSerial = item(items, "PP_KVRN_SN");
    load.model = item(items, "PP_MODEL");
    // "version|second identifier", as the loader joins them.
    const std::string versions = item(items, "PP_APP_VER");
    const auto bar = versions.find('|');
    load.appVersion = versions.substr(0, bar);
    if (bar != std::string::npos) load.previousAppVersion = versions.substr(bar + 1);
    load.configVersion = item(items, "PP_CONFIG_VER");
    load.oemId = item(items, "PP_OEM_ID");
    load.peer = operation_.peer;
    operation_.subject = load.model;
    std::string storeError;
    const auto loadId = setup_.store.registerLoad(load, storeError);
    if (!loadId) {
        setup_.trace.note("cannot register a load: " + storeError);
        error = "Load Registration Failed";
        return;
    }
    status = kSuccess;
    operation_.subject += " -> load " + std::to_string(*loadId);
    if (!fault("no-load-id")) extra.emplace_back("KVRN_DEV_ID", std::to_string(*loadId));
}

void LoadSession::serveLoadStatus(const std::map<std::string, std::string>& items, std::string& status,
                                  std::string& error) {
    LoadRecordStore::OutcomeReport report;
    const std::string loadText = item(items, "PP_KVRN_DEV_ID");
    report.installationSerial = item(items, "PP_KVRN_SN");
    report.outcome = item(items, "PP_OUTCOME");
    const std::string versions = item(items, "PP_APP_VER");
    const auto bar = versions.find('|');
    report.appVersion = versions.substr(0, bar);
    if (bar != std::string::npos) report.previousAppVersion = versions.substr(bar + 1);
    report.configVersion = item(items, "PP_CONFIG_VER");
    report.peer = operation_.peer;
    operation_.subject = "load " + loadText + ": " + report.outcome;
    if (!parseDecimal(loadText, report.loadId) || !setup_.store.isKnownLoad(report.loadId)) {
        error = "Unknown Load Identifier " + loadText;
        return;
    }
    std::string storeError;
    if (!setup_.store.recordOutcome(report, storeError)) {
        setup_.trace.note("cannot record an outcome: " + storeError);
        error = "Load Status Not Recorded";
        return;
    }
    status = kSuccess;
}

bool LoadSession::prepareFetch(const std::map<std::string, std::string>& items, std::string& status,
                               std::string& error, Items& extra) {
    const bool namedFile = request_ == "PP_GET_FILE";
    const std::string name = item(items, namedFile ? "PP_FILENAME" : "PP_MODEL");
    operation_.subject = name;
    const auto kind = namedFile ? PackageFolder::Kind::namedFile
                                : request_ == "PP_APP" ? PackageFolder::Kind::application
                                                       : PackageFolder::Kind::configuration;
    const auto entry = setup_.packages.find(kind, name, error);
    if (!entry) return false;
    file_ = setup_.packages.load(entry->path);
    if (file_ == nullptr) {
        setup_.trace.note("cannot read " + entry->path);
        error = "Package File Unreadable";
        return false;
    }
    // A zero length is what the loader refuses; say why here instead.
    if (file_->bytes.empty()) {
        error = "Package File Empty";
        return false;
    }
    status = kSuccess;
    std::string digest = file_->md5;
    if (fault("wrong-md5")) digest[0] = digest[0] == '0' ? '1' : '0';
    if (fault("lowercase-md5")) digest = lowerCase(digest);
    if (!fault("no-md5")) extra.emplace_back("MD5Sum", digest);
    // Understated, so that the file's end never completes the download.
    const std::size_t announced = file_->bytes.size() - (fault("blocks-past-end") ? 1 : 0);
    const std::string length = std::to_string(announced);
    if (fault("zero-length")) {
        extra.emplace_back("CompressedLen", "0");
    } else if (!fault("no-length")) {
        extra.emplace_back("CompressedLen", length);
        if (!fault("compressed-len-only")) extra.emplace_back("FileLen", length);
    }
    extra.emplace_back("CompressionMethod", fault("zlib") ? "Zlib" : "None");
    if (!fault("no-version")) extra.emplace_back("Version", entry->version);
    if (!namedFile) extra.emplace_back("AddInfoFileName", entry->infoFileName);
    return true;
}

bool LoadSession::respond(const std::string& status, const std::string& error, const Items& extra) {
    std::string answer = clientAnswer_;
    if (fault("wrong-cr")) {
        if (answer.empty()) answer = "00";
        answer[0] = answer[0] == '0' ? '1' : '0';
    }
    if (fault("lowercase-cr")) answer = lowerCase(answer);

    std::string sentStatus = status, sentError = error;
    if (fault("status-error")) {
        sentStatus = kError;
        sentError = setup_.options.faults.value("status-error", request_, "Refused by the server for a test");
    } else if (fault("status-no-error")) {
        sentStatus = setup_.options.faults.value("status-no-error", request_, kError);
        sentError.clear();
    }
    Items items{{"CR", answer}, {"Status", sentStatus}};
    if (!sentError.empty()) items.emplace_back("Error", sentError);
    if (sentStatus == kSuccess) items.insert(items.end(), extra.begin(), extra.end());
    operation_.responseStatus = sentStatus;
    operation_.responseError = sentError;

    if (fault("close-notify")) {
        trace("close_notify instead of the response");
        operation_.responseStatus = "(close_notify)";
        connection_.closeWithNotify();
        connectionGone_ = true;
        return false;
    }
    if (fault("stall-response")) {
        trace("stalling instead of the response");
        operation_.responseStatus = "(stalled)";
        connection_.holdUntilPeerLeaves(setup_.options.stallLimitMs);
        connectionGone_ = true;
        return false;
    }
    const std::string message = textMessage(itemsBody(items));
    trace("-> " + renderForTrace(message));
    if (!connection_.send(message, setup_.options.receiveTimeoutMs)) {
        trace("response not sent: " + connection_.lastError());
        connectionGone_ = true;
        return false;
    }
    const bool fetch = file_ != nullptr;
    statuses_.responseSent(sentStatus == kSuccess, fetch, fetch ? file_->bytes.size() : 0);
    return sentStatus == kSuccess;
}

void LoadSession::download() {
    const FaultSet& faults = setup_.options.faults;
    const std::size_t blockSize = setup_.options.blockSize;
    const std::string& file = file_->bytes;
    const int64_t blockCount = static_cast<int64_t>((file.size() + blockSize - 1) / blockSize);
    std::vector<bool> sent(static_cast<std::size_t>(blockCount) + 1, false);

    // out-of-sequence=N[:COUNT]
    int64_t skipBlock = 0, skipsLeft = 0;
    if (fault("out-of-sequence")) {
        const std::string value = faults.value("out-of-sequence", request_, "1");
        const auto colon = value.find(':');
        skipBlock = std::stol(value.substr(0, colon));
        skipsLeft = colon == std::string::npos ? 1 : std::stol(value.substr(colon + 1));
    }
    const auto dropAfter = faults.number("drop-after-block", request_);
    const auto stallAfter = faults.number("stall-after-block", request_);
    const auto renegotiateAfter = faults.number("renegotiate-after-block", request_);
    const int64_t lastServed = blockCount + faults.number("blocks-past-end", request_).value_or(0);
    bool renegotiated = false;

    while (true) {
        WireMessage status;
        const Received got = receive(status);
        if (got != Received::message) {
            noteMissingClosing(got);
            operation_.closingStatus = kNoClosingStatus;
            connectionGone_ = true;
            return;
        }
        checkStatus();
        int64_t next = 0;
        const bool askForBlock =
            status.header("Status") == kSuccess && status.header("Status-Text") == "OK_TO_CONTINUE" &&
            parseSigned(status.header("Next-Block-Expected"), next) && next >= 1 && next <= lastServed;
        if (!askForBlock) {
            if (next > blockCount && status.header("Status") == kSuccess) {
                trace("closing: no more blocks past the end");
                operation_.closingStatus = kNoClosingStatus;
                connection_.drop();
                connectionGone_ = true;
                return;
            }
            noteClosing(status);
            return;
        }
        int64_t numberSent = next;
        if (next == skipBlock && skipsLeft > 0) {
            --skipsLeft;
            numberSent = next + 1;
        }
        const int64_t dataBlock = std::min(numberSent, blockCount);
        const std::size_t offset = static_cast<std::size_t>(dataBlock - 1) * blockSize;
        const std::string filler = numberSent > blockCount && next > blockCount ? std::string(blockSize, 'F') : "";
        const std::string_view bytes =
            filler.empty() ? std::string_view(file).substr(offset, blockSize) : std::string_view(filler);
        trace("-> block " + std::to_string(numberSent) + " (" + std::to_string(bytes.size()) + " bytes)" +
              (numberSent != next ? " for block " + std::to_string(next) : ""));
        if (!connection_.send(blockMessage(static_cast<long>(numberSent), bytes), setup_.options.receiveTimeoutMs)) {
            trace("block not sent: " + connection_.lastError());
            operation_.closingStatus = kNoClosingStatus;
            connectionGone_ = true;
            return;
        }
        statuses_.blockSent(next, numberSent, bytes.size());
        ++operation_.blocksSent;
        if (next <= blockCount) {
            if (sent[static_cast<std::size_t>(next)]) ++operation_.blocksResent;
            sent[static_cast<std::size_t>(next)] = true;
        }

        if (dropAfter && next == *dropAfter) {
            trace("dropping the connection");
            operation_.closingStatus = kNoClosingStatus;
            operation_.closingText = "(dropped after block " + std::to_string(next) + ")";
            connection_.drop();
            connectionGone_ = true;
            return;
        }
        if (stallAfter && next == *stallAfter) {
            trace("stalling");
            operation_.closingStatus = kNoClosingStatus;
            operation_.closingText = "(stalled after block " + std::to_string(next) + ")";
            connection_.holdUntilPeerLeaves(setup_.options.stallLimitMs);
            connectionGone_ = true;
            return;
        }
        if (renegotiateAfter && next == *renegotiateAfter && !renegotiated) {
            renegotiated = true;
            trace(connection_.requestRenegotiation() ? "renegotiation requested"
                                                     : "renegotiation not possible: " + connection_.lastError());
        }
    }
}

void LoadSession::readClosingStatus() {
    WireMessage status;
    const Received got = receive(status);
    if (got == Received::message) {
        checkStatus();
        noteClosing(status);
    } else {
        noteMissingClosing(got);
        operation_.closingStatus = kNoClosingStatus;
        connectionGone_ = true;
    }
}

void LoadSession::noteMissingClosing(Received got) {
    switch (got) {
    case Received::closed:
    case Received::closeNotify: violation("the client left without a closing status"); break;
    case Received::timeout:
        violation("no status message within " + std::to_string(setup_.options.receiveTimeoutMs) + " ms");
        break;
    case Received::failed: violation("the connection failed where a status message was due"); break;
    case Received::headerTooLong:
    case Received::badLength:
    case Received::tooLarge: violation("an unreadable message where a status message was due"); break;
    default: break;  // the server is stopping
    }
}

bool LoadSession::checkStatus() {
    StatusFields fields;
    for (const std::string& text : checkStatusForm(received_, receivedHeaderLength_, fields)) violation(text);
    Violations order;
    const bool closing = statuses_.check(fields, order);
    for (const std::string& text : order) violation(text);
    return closing;
}

void LoadSession::awaitClose() {
    WireMessage extra;
    switch (receive(extra)) {
    case Received::closeNotify: break;
    case Received::closed: violation("the client closed the connection without close_notify"); break;
    case Received::message: violation("a message after the closing status"); break;
    case Received::timeout:
        violation("the connection stayed open " + std::to_string(setup_.options.receiveTimeoutMs) +
                  " ms after the closing status");
        break;
    case Received::failed: violation("the connection failed instead of close_notify"); break;
    default: break;
    }
}

void LoadSession::violation(const std::string& text) {
    violations_.push_back(text);
    trace("violation: " + text);
}

void LoadSession::noteClosing(const WireMessage& message) {
    closingRead_ = true;
    operation_.closingStatus = message.header("Status");
    operation_.closingText = message.header("Status-Text");
    if (operation_.closingStatus.empty()) operation_.closingStatus = "(no status)";
}

}  // namespace korvane
