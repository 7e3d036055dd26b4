#pragma once

#include "platform/InstallationConfig.h"
#include "server/ChallengeCipher.h"
#include "server/LoadServerResponse.h"
#include "server/Md5.h"
#include "server/SecureChannel.h"
#include "job/ByteArray.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace korvane {

// The load server's text protocol over the secure channel: connecting to the
// primary or the secondary host, receiving one whole message, parsing it, and
// building and sending requests and status messages. The requests carry the
// owner load's identification fields (empty without an owner). Every failure
// leaves its text as LastErrorText(). One worker thread uses an object at a time.
//
// Abstract: each pad class derives from it and provides the pad-load operation.
class LoadServerClient : public SecureChannel {
public:
    static constexpr uint32_t kConnectTimeoutMs = 10000;
    static constexpr uint32_t kReceiveBudgetMs = 10000;
    // A fetch or a download called without a target to fill: a caller's mistake.
    static constexpr const char* kNoDownloadTargetText = "No Download Target.";
    // A broken or hostile server must not make the loader exhaust memory: one
    // message, and a download past its announced length, stop at this size.
    static constexpr std::size_t kMaxMessageBytes = std::size_t{64} << 20;
    static constexpr int64_t kMaxDownloadOverrunBytes = int64_t{64} << 20;
    static constexpr const char* kMessageTooLargeText = "Message from the load server larger than 64 MiB.";
    static constexpr const char* kDownloadOverrunText = "Download ran more than 64 MiB past its announced length.";

    explicit LoadServerClient(const InstallationConfig& installation, LoadJob* owner = nullptr,
                              SecurityInterface& security = SecurityInterface::processWide());
    ~LoadServerClient() override;

    // Loads the pad from what the workflow prepared; 2 loaded, 0 failed.
    virtual int loadPackingList() = 0;

    // Hosts, port and installation serial number; fixed for the object's life
    // in the workflows, settable for the tools and tests.
    void setInstallation(const InstallationConfig& installation) { installation_ = installation; }
    const InstallationConfig& installation() const { return installation_; }

    // The primary host, else the secondary; both failing leaves the secondary's text.
    // Both are held to the installation's certificate pin when it has one; a
    // certificate the pin refused at the primary stays named in the text.
    bool ConnectToLoadServer();

    // Fills the receive buffer with one message. Each read waits up to the
    // whole budget; the budget is charged with the time between reads. Returns
    // the bytes received when the message is complete, the budget is spent or
    // the server ended the session after sending something; 0 when nothing came
    // in time (or the session ended with nothing); -1 on a channel error, or
    // once the message has grown past kMaxMessageBytes (its memory released).
    // Block mode is for block messages; the completeness test never copies the
    // body in either mode.
    long ReceiveMessage(uint32_t timeBudgetMs, bool blockMode);

    bool ReceiveChallenge(std::string& challenge);
    bool ReceiveResponse(LoadServerResponse& response);
    // The block's bytes are the record's raw body; its number comes from the headers.
    bool ReceiveBlock(LoadServerResponse& response);

    // Each builds its request into the outgoing message and sends nothing.
    // "REQ=PP_APP" (or "REQ=PP_CONFIG"): the owner's padModel, suffix included.
    void BuildFetchRequest(const std::string& clientChallenge, const std::string& challengeAnswer,
                           bool configuration);
    void BuildFileRequest(const std::string& clientChallenge, const std::string& challengeAnswer,
                          const std::string& fileName);
    // "REQ=PP_LOAD": the versions, model and OEM identifier the pad reported.
    void BuildLoadRequest(const std::string& clientChallenge, const std::string& challengeAnswer);
    // "REQ=PP_LOAD_STATUS": the load identifier, outcome and versions to report.
    void BuildLoadStatusRequest(const std::string& clientChallenge, const std::string& challengeAnswer);

    // Sends the outgoing message, then ReceiveResponse.
    bool Exchange(LoadServerResponse& response);
    // Builds and sends one status message at once; reads no answer.
    bool SendStatus(const std::string& statusText, int lastGoodBlock, int nextBlockExpected, const std::string& body,
                    bool isError);
    // An "Error" status with counters -1 and -1: `text`, or the last error text when it is empty.
    bool SendErrorStatus(const std::string& text);

    const std::string& outgoingMessage() const { return outgoingMessage_; }
    const std::string& receiveBuffer() const { return receiveBuffer_; }

    // The load operations. Each is one connection: connect, mutual challenge,
    // one request and its response, for the fetches the block download and
    // the digest check, a closing status, disconnect. False with the reason
    // as LastErrorText(); a failure after the response also goes to the
    // server as an "Error" status. Results land in the owner.

    // "REQ=PP_LOAD"; the owner's loadIdentifier receives the server's "KVRN_DEV_ID".
    bool RequestLoad();
    // "REQ=PP_LOAD_STATUS" with the owner's loadIdentifier and outcome.
    bool ReportLoadStatus();
    // "REQ=PP_APP" ("REQ=PP_CONFIG" when `configuration`) for the owner's
    // padModel into its downloadTarget, which the caller points first. The
    // announced length goes to fetchedSize as soon as the response arrives;
    // fetchedVersion and fetchedInfoFileName only after a good digest.
    bool FetchApplication(bool configuration);
    // "REQ=PP_GET_FILE" for `fileName` into the owner's downloadTarget;
    // fetchedVersion after a good digest.
    bool FetchFile(const std::string& fileName);

    // Blocks 1, 2, ... into the owner's downloadTarget until `totalLength`
    // bytes came; the last block is not acknowledged. A block out of sequence
    // is asked for again; after the fifth, whatever arrives next ends the
    // download (the count is never reset). A download still running
    // kMaxDownloadOverrunBytes past `totalLength` fails with its target
    // emptied and released. `cancelRequested` is
    // looked at once per block that arrives, and a cancel sets the owner's
    // outcome to "FAIL-DOWNLOAD FILES" without storing that block. A failed
    // receive empties the target; the other failures leave what came.
    bool DownloadBlocks(int totalLength);
    // MD5 of all of `file`, upper-case hex, compared with `expectedDigest` exactly.
    bool VerifyFileDigest(const ByteArray& file, const std::string& expectedDigest);
    // The same for the bytes the last DownloadBlocks stored, whose digest it
    // fed block by block as it accepted them: no second pass over the file.
    bool VerifyDownloadDigest(const std::string& expectedDigest);

    // The cipher of the mutual challenge; the process-wide one unless set.
    void setChallengeCipher(ChallengeCipher& cipher) { cipher_ = &cipher; }

private:
    using RequestBuilder = std::function<void(const std::string& clientChallenge, const std::string& challengeAnswer)>;

    void buildRequest(const std::string& body);
    bool receiveInto(LoadServerResponse& response, bool blockMode);

    // Connect, challenge, request, response; on failure the connection is
    // closed and nothing is sent to the server.
    bool exchangeWithChallenge(const char* connectingText, bool announceChallenge, const RequestBuilder& build,
                               LoadServerResponse& response, std::string& expectedAnswer);
    bool answerServerChallenge(const std::string& serverChallenge, std::string& answer);
    bool makeClientChallenge(std::string& clientChallenge, std::string& expectedAnswer);
    // The server's answer and its status; a failure is reported as failOperation does.
    bool checkAcceptance(const LoadServerResponse& response, const std::string& expectedAnswer);
    // The checks, download and digest test that both fetches share.
    bool fetchIntoTarget(const LoadServerResponse& response, bool versionRequired);
    // Keeps `reason` as the last error text, sends it as an "Error" status, disconnects; false.
    bool failOperation(const std::string& reason);
    // "LOAD SUCCESSFUL", disconnect; true whatever the send did.
    bool completeOperation();
    bool hasDownloadTarget();

    InstallationConfig installation_;
    ChallengeCipher* cipher_;
    std::string receiveBuffer_;
    std::string outgoingMessage_;
    Md5 downloadDigest_;
};

}  // namespace korvane
