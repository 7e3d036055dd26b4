#pragma once

#include "platform/InstallationConfig.h"
#include "server/LoadServerResponse.h"
#include "server/SecureChannel.h"

#include <cstdint>
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
    bool ConnectToLoadServer();

    // Fills the receive buffer with one message. Each read waits up to the
    // whole budget; the budget is charged with the time between reads. Returns
    // the bytes received when the message is complete, the budget is spent or
    // the server ended the session after sending something; 0 when nothing came
    // in time (or the session ended with nothing); -1 on a channel error.
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

private:
    void buildRequest(const std::string& body);
    bool receiveInto(LoadServerResponse& response, bool blockMode);

    InstallationConfig installation_;
    std::string receiveBuffer_;
    std::string outgoingMessage_;
};

}  // namespace korvane
