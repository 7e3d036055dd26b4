// The four load operations and the mutual challenge they open with.
#include "server/LoadServerClient.h"

#include "server/FormatText.h"
#include "server/HexText.h"
#include "job/DecimalValue.h"
#include "job/LoadJob.h"

#include <vector>

namespace korvane {

namespace {

constexpr std::size_t kClientChallengeBytes = 16;

constexpr const char* kConnectingText = "Connecting to Korvane load server.";
constexpr const char* kWaitingChallengeText = "Waiting Initial Challenge.";
constexpr const char* kChallengeReceivedText = "Challenge Received.";

constexpr const char* kAcceptedStatus = "Success";
constexpr const char* kLoadSuccessfulText = "LOAD SUCCESSFUL";
constexpr const char* kRefusedCompression = "Zlib";

constexpr const char* kChallengeFailedText = "Challenge Verification Failed.";
constexpr const char* kNoErrorMessageFormat = "No Error Msg - Status=%s";
constexpr const char* kNoLoadIdentifierText = "No Load Identifier Supplied";
constexpr const char* kNoDigestText = "No MD5 Sum Supplied";
constexpr const char* kNoLengthText = "No Compressed App Length Supplied";
constexpr const char* kNoVersionText = "No File Version Supplied";
constexpr const char* kCompressedText = "Application Failed to Inflate -- Try with No Compression.";
constexpr const char* kDigestFailedText = "MD5 Failed after Completed Transfer.";
// The cipher fails only when the process's security services are broken.
constexpr const char* kCipherFailedText = "Challenge Encryption Failed.";

}  // namespace

bool LoadServerClient::answerServerChallenge(const std::string& serverChallenge, std::string& answer) {
    answer.clear();
    // An odd length cannot be bytes; the empty answer lets the server refuse it.
    if (serverChallenge.size() % 2 != 0) return true;
    std::vector<uint8_t> bytes(serverChallenge.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = HexDecode(serverChallenge[2 * i], serverChallenge[2 * i + 1]);
    std::size_t length = bytes.size();
    if (!cipher_->EncryptInPlace(bytes.data(), length, bytes.size())) return false;
    answer = HexEncode(bytes.data(), length);
    return true;
}

bool LoadServerClient::makeClientChallenge(std::string& clientChallenge, std::string& expectedAnswer) {
    uint8_t bytes[kClientChallengeBytes];
    if (!cipher_->GenerateRandom(sizeof bytes, bytes)) return false;
    clientChallenge = HexEncode(bytes, sizeof bytes);
    std::size_t length = sizeof bytes;
    if (!cipher_->EncryptInPlace(bytes, length, sizeof bytes)) return false;
    expectedAnswer = HexEncode(bytes, length);
    return true;
}

bool LoadServerClient::exchangeWithChallenge(const char* connectingText, bool announceChallenge,
                                             const RequestBuilder& build, LoadServerResponse& response,
                                             std::string& expectedAnswer) {
    if (!ConnectToLoadServer()) return false;
    postStatus(connectingText);
    std::string serverChallenge;
    if (!ReceiveChallenge(serverChallenge)) {
        Disconnect();
        return false;
    }
    if (announceChallenge) postStatus(kChallengeReceivedText);
    std::string answer, clientChallenge;
    if (!answerServerChallenge(serverChallenge, answer) || !makeClientChallenge(clientChallenge, expectedAnswer)) {
        setLastErrorText(kCipherFailedText);
        Disconnect();
        return false;
    }
    build(clientChallenge, answer);
    if (!Exchange(response)) {
        Disconnect();
        return false;
    }
    return true;
}

bool LoadServerClient::checkAcceptance(const LoadServerResponse& response, const std::string& expectedAnswer) {
    // Exact: a server that cannot write upper-case hex has not proved the secret.
    if (response.challengeAnswer != expectedAnswer) return failOperation(kChallengeFailedText);
    if (response.status != kAcceptedStatus) {
        return failOperation(response.errorText.empty()
                                 ? formatText(kNoErrorMessageFormat, response.status.c_str())
                                 : response.errorText);
    }
    return true;
}

bool LoadServerClient::failOperation(const std::string& reason) {
    setLastErrorText(reason);
    SendErrorStatus(reason);
    // The connection may be the very thing that broke; its send failure must
    // not take the place of the reason the caller shows.
    setLastErrorText(reason);
    Disconnect();
    return false;
}

bool LoadServerClient::completeOperation() {
    SendStatus(kLoadSuccessfulText, -1, -1, std::string(), false);
    Disconnect();
    return true;
}

bool LoadServerClient::hasDownloadTarget() {
    if (owner() != nullptr && owner()->downloadTarget != nullptr) return true;
    setLastErrorText(kNoDownloadTargetText);
    return false;
}

bool LoadServerClient::RequestLoad() {
    LoadServerResponse response;
    std::string expectedAnswer;
    const auto build = [this](const std::string& challenge, const std::string& answer) {
        BuildLoadRequest(challenge, answer);
    };
    if (!exchangeWithChallenge(kConnectingText, false, build, response, expectedAnswer)) return false;
    if (!checkAcceptance(response, expectedAnswer)) return false;
    if (response.loadIdentifier.empty()) return failOperation(kNoLoadIdentifierText);
    if (owner() != nullptr) owner()->loadReport.loadIdentifier = response.loadIdentifier;
    return completeOperation();
}

bool LoadServerClient::ReportLoadStatus() {
    LoadServerResponse response;
    std::string expectedAnswer;
    const auto build = [this](const std::string& challenge, const std::string& answer) {
        BuildLoadStatusRequest(challenge, answer);
    };
    if (!exchangeWithChallenge(kConnectingText, false, build, response, expectedAnswer)) return false;
    if (!checkAcceptance(response, expectedAnswer)) return false;
    return completeOperation();
}

bool LoadServerClient::FetchApplication(bool configuration) {
    if (!hasDownloadTarget()) return false;
    LoadServerResponse response;
    std::string expectedAnswer;
    const auto build = [this, configuration](const std::string& challenge, const std::string& answer) {
        BuildFetchRequest(challenge, answer, configuration);
    };
    if (!exchangeWithChallenge(kConnectingText, true, build, response, expectedAnswer)) return false;
    // Kept even when the fetch then fails: the caches remember what was on offer.
    if (!response.fileLength.empty() && decimalValue(response.fileLength) > 0)
        owner()->fetchedSize = response.fileLength;
    if (!checkAcceptance(response, expectedAnswer)) return false;
    if (!fetchIntoTarget(response, true)) return false;
    owner()->fetchedVersion = response.version;
    owner()->fetchedInfoFileName = response.infoFileName;
    return completeOperation();
}

bool LoadServerClient::FetchFile(const std::string& fileName) {
    if (!hasDownloadTarget()) return false;
    LoadServerResponse response;
    std::string expectedAnswer;
    const auto build = [this, &fileName](const std::string& challenge, const std::string& answer) {
        BuildFileRequest(challenge, answer, fileName);
    };
    if (!exchangeWithChallenge(kWaitingChallengeText, true, build, response, expectedAnswer)) return false;
    if (!checkAcceptance(response, expectedAnswer)) return false;
    if (!fetchIntoTarget(response, false)) return false;
    owner()->fetchedVersion = response.version;
    return completeOperation();
}

bool LoadServerClient::fetchIntoTarget(const LoadServerResponse& response, bool versionRequired) {
    if (response.fileDigest.empty()) return failOperation(kNoDigestText);
    const int length = decimalValue(response.fileLength);
    if (response.fileLength.empty() || length == 0) return failOperation(kNoLengthText);
    if (versionRequired && response.version.empty()) return failOperation(kNoVersionText);
    if (!DownloadBlocks(length)) return failOperation(LastErrorText());
    // Nothing here unpacks; a compressed file is refused once the transfer is
    // over, which is when the server expects the closing status.
    if (response.compressionMethod == kRefusedCompression) return failOperation(kCompressedText);
    if (!VerifyDownloadDigest(response.fileDigest)) return failOperation(kDigestFailedText);
    return true;
}

}  // namespace korvane
