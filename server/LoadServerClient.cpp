#include "server/LoadServerClient.h"

#include "platform/Tick.h"
#include "server/FormatText.h"
#include "job/LoadJob.h"

#include <cstdint>

namespace korvane {

namespace {

constexpr int kParseFailedCode = 3406;
constexpr int kEmptyPayloadCode = 3407;

// Appends KEY=value and its FS; an empty value still writes the key and "=".
void appendItem(std::string& body, const char* keyAndEquals, const std::string& value) {
    body += keyAndEquals;
    body += value;
    body += kFieldSeparator;
}

void appendLiteral(std::string& body, const char* item) {
    body += item;
    body += kFieldSeparator;
}

// A load without an owner sends empty values.
const LoadJob& ownerOrBlank(const LoadJob* owner) {
    static const LoadJob blank;
    return owner != nullptr ? *owner : blank;
}

std::string challengeItems(const std::string& clientChallenge, const std::string& challengeAnswer) {
    std::string body;
    appendItem(body, "CC=", clientChallenge);
    appendItem(body, "CR=", challengeAnswer);
    return body;
}

}  // namespace

LoadServerClient::LoadServerClient(const InstallationConfig& installation, LoadJob* owner,
                                   SecurityInterface& security)
    : SecureChannel(security), installation_(installation), cipher_(&ChallengeCipher::processWide()) {
    setOwner(owner);
}

LoadServerClient::~LoadServerClient() = default;

bool LoadServerClient::ConnectToLoadServer() {
    setServerCertificatePin(installation_.serverCertificateSha256);
    if (Open(installation_.primaryHost, installation_.port, kConnectTimeoutMs)) return true;
    // A certificate the pin refused may be an attack: the operator must see
    // it even when the secondary host then fails for another reason.
    const std::string refused = certificateRefused() ? LastErrorText() : std::string();
    if (Open(installation_.secondaryHost, installation_.port, kConnectTimeoutMs)) return true;
    if (!refused.empty() && LastErrorText() != refused) setLastErrorText(refused + "\r\n" + LastErrorText());
    return false;
}

long LoadServerClient::ReceiveMessage(uint32_t timeBudgetMs, bool blockMode) {
    // Both modes test completeness in place; block mode only names the caller.
    (void)blockMode;
    receiveBuffer_.clear();
    int64_t remaining = timeBudgetMs;
    uint32_t lastTick = tickCount();
    while (remaining > 0) {
        std::size_t appended = 0;
        const int result = ReceiveAndDecrypt(appended, receiveBuffer_, timeBudgetMs);
        if (result == kTimedOut) return 0;
        if (result == kSessionEnded) return appended > 0 ? static_cast<long>(receiveBuffer_.size()) : 0;
        if (result != kDataAppended) return -1;

        if (receiveBuffer_.size() > kMaxMessageBytes) {
            std::string().swap(receiveBuffer_);
            setLastErrorText(kMessageTooLargeText);
            return -1;
        }
        const bool complete = isCompleteMessage(receiveBuffer_);
        remaining -= elapsedSince(lastTick);
        lastTick = tickCount();
        if (complete) return static_cast<long>(receiveBuffer_.size());
    }
    return static_cast<long>(receiveBuffer_.size());
}

bool LoadServerClient::receiveInto(LoadServerResponse& response, bool blockMode) {
    response.reset();
    if (ReceiveMessage(kReceiveBudgetMs, blockMode) <= 0) return false;  // the channel's text stands
    if (!response.parseHeaders(receiveBuffer_)) {
        setLastErrorText(formatText("Failed to Parse HTTP Response %d", kParseFailedCode));
        return false;
    }
    if (response.rawBody.empty()) {
        setLastErrorText(formatText("Empty Payload %d", kEmptyPayloadCode));
        return false;
    }
    return true;
}

bool LoadServerClient::ReceiveChallenge(std::string& challenge) {
    challenge.clear();
    LoadServerResponse message;
    if (!receiveInto(message, false)) return false;
    challenge = std::move(message.rawBody);
    return true;
}

bool LoadServerClient::ReceiveResponse(LoadServerResponse& response) {
    if (!receiveInto(response, false)) return false;
    response.parseItems();
    return true;
}

bool LoadServerClient::ReceiveBlock(LoadServerResponse& response) { return receiveInto(response, true); }

void LoadServerClient::buildRequest(const std::string& body) {
    outgoingMessage_ = formatText("Content-Length: %d\r\n", static_cast<int>(body.size()));
    outgoingMessage_ += "\r\n";
    outgoingMessage_ += body;
}

void LoadServerClient::BuildFetchRequest(const std::string& clientChallenge, const std::string& challengeAnswer,
                                         bool configuration) {
    const LoadJob& job = ownerOrBlank(owner());
    std::string body = challengeItems(clientChallenge, challengeAnswer);
    appendLiteral(body, configuration ? "REQ=PP_CONFIG" : "REQ=PP_APP");
    appendItem(body, "PP_KVRN_SN=", installation_.installationSerial);
    appendItem(body, "PP_MODEL=", job.deviceInfo.padModel);
    buildRequest(body);
}

void LoadServerClient::BuildFileRequest(const std::string& clientChallenge, const std::string& challengeAnswer,
                                        const std::string& fileName) {
    std::string body = challengeItems(clientChallenge, challengeAnswer);
    appendLiteral(body, "REQ=PP_GET_FILE");
    appendItem(body, "PP_FILENAME=", fileName);
    buildRequest(body);
}

void LoadServerClient::BuildLoadRequest(const std::string& clientChallenge, const std::string& challengeAnswer) {
    const DeviceInfo& device = ownerOrBlank(owner()).deviceInfo;
    std::string body = challengeItems(clientChallenge, challengeAnswer);
    appendLiteral(body, "REQ=PP_LOAD");
    appendItem(body, "PP_APP_VER=", device.appVersion + "|" + device.previousAppVersion);
    appendItem(body, "PP_CONFIG_VER=", device.configVersion);
    appendItem(body, "PP_KVRN_SN=", installation_.installationSerial);
    appendItem(body, "PP_MODEL=", device.padModel);
    appendItem(body, "PP_OEM_ID=", device.oemId);
    buildRequest(body);
}

void LoadServerClient::BuildLoadStatusRequest(const std::string& clientChallenge,
                                              const std::string& challengeAnswer) {
    const LoadJob& job = ownerOrBlank(owner());
    const LoadReport& report = job.loadReport;
    std::string body = challengeItems(clientChallenge, challengeAnswer);
    appendLiteral(body, "REQ=PP_LOAD_STATUS");
    appendItem(body, "PP_KVRN_SN=", installation_.installationSerial);
    appendItem(body, "PP_KVRN_DEV_ID=", report.loadIdentifier);
    appendItem(body, "PP_OUTCOME=", report.outcome);
    appendItem(body, "PP_APP_VER=", report.reportedAppVersion + "|" + job.deviceInfo.previousAppVersion);
    appendItem(body, "PP_CONFIG_VER=", report.reportedConfigVersion);
    buildRequest(body);
}

bool LoadServerClient::Exchange(LoadServerResponse& response) {
    if (!EncryptSend(outgoingMessage_.data(), outgoingMessage_.size())) return false;
    return ReceiveResponse(response);
}

bool LoadServerClient::SendStatus(const std::string& statusText, int lastGoodBlock, int nextBlockExpected,
                                  const std::string& body, bool isError) {
    std::string message = formatText("Content-Length: %d\r\n", static_cast<int>(body.size()));
    message += formatText("Last-Good-Block: %d\r\n", lastGoodBlock);
    message += formatText("Next-Block-Expected: %d\r\n", nextBlockExpected);
    message += formatText("Status: %s\r\n", isError ? "Error" : "Success");
    message += "Status-Text: " + statusText + "\r\n";
    message += "\r\n";
    message += body;
    return EncryptSend(message.data(), message.size());
}

bool LoadServerClient::SendErrorStatus(const std::string& text) {
    const std::string reason = text.empty() ? LastErrorText() : text;
    return SendStatus(reason, -1, -1, std::string(), true);
}

}  // namespace korvane
