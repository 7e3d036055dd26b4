#pragma once

#include <map>
#include <memory>
#include <string>

#include "tools/load-server/LoadRecordStore.h"
#include "tools/load-server/PackageFolder.h"
#include "tools/load-server/RequestChecks.h"
#include "tools/load-server/WireMessage.h"

namespace korvane {

class ChallengeKey;
class ServerTrace;
class TlsConnection;
struct LoadServerOptions;

// What every connection shares; all of it is safe to use from many threads.
struct ServerSetup {
    const LoadServerOptions& options;
    const ChallengeKey& key;
    LoadRecordStore& store;
    const PackageFolder& packages;
    ServerTrace& trace;
    ChallengeLedger& challenges;
};

// One operation on one connection, as the loader drives it: challenge,
// request, response, for fetches the block download with re-requests, and
// the client's closing status. Whatever the client sends, the session ends
// with the connection closed and, once a request was read, a record of it.
class LoadSession {
public:
    LoadSession(TlsConnection& connection, const ServerSetup& setup, long number, std::string peer);
    void run();

    // Limits on what a client may send; a larger request is read to its end
    // without being kept, and refused.
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
    static constexpr std::size_t kMaxBodyBytes = 64 * 1024;
    static constexpr uint64_t kMaxDrainBytes = 64ull * 1024 * 1024;
    static constexpr int kHandshakeTimeoutMs = 10000;

private:
    enum class Received { message, closed, closeNotify, timeout, stopped, failed, headerTooLong, badLength, tooLarge };

    Received receive(WireMessage& message);
    std::string makeChallenge() const;
    void serve(const WireMessage& request);
    void serveLoad(const std::map<std::string, std::string>& items, std::string& status, std::string& error,
                   Items& extra);
    void serveLoadStatus(const std::map<std::string, std::string>& items, std::string& status, std::string& error);
    bool prepareFetch(const std::map<std::string, std::string>& items, std::string& status, std::string& error,
                      Items& extra);
    // Sends the response with the fault switches applied; true when the
    // connection is still there and the response said "Success".
    bool respond(const std::string& status, const std::string& error, const Items& extra);
    void download();
    void readClosingStatus();
    void noteClosing(const WireMessage& message);
    // Form and place of the status message just received; true when it closes the operation.
    bool checkStatus();
    void noteMissingClosing(Received got);
    // After the closing status only close_notify may come.
    void awaitClose();
    void violation(const std::string& text);
    void trace(const std::string& text) const;
    bool fault(const char* name) const;

    TlsConnection& connection_;
    const ServerSetup& setup_;
    long number_;
    std::string challenge_;
    std::string request_;     // the request kind, once read ("PP_LOAD" and the like)
    std::string clientAnswer_;  // our "CR" for the client's "CC"
    std::shared_ptr<const PackageFolder::Content> file_;  // what a fetch sends
    bool connectionGone_ = false;
    bool closingRead_ = false;
    std::string buffer_;
    std::string received_;  // the last whole message, as it came
    std::size_t receivedHeaderLength_ = 0;
    Violations violations_;
    StatusSequence statuses_;
    MessageScanner scanner_{kMaxHeaderBytes};
    LoadRecordStore::Operation operation_;
};

}  // namespace korvane
