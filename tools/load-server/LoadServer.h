#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "tools/load-server/ChallengeKey.h"
#include "tools/load-server/ListeningSocket.h"
#include "tools/load-server/LoadRecordStore.h"
#include "tools/load-server/LoadServerOptions.h"
#include "tools/load-server/PackageFolder.h"
#include "tools/load-server/RequestChecks.h"
#include "tools/load-server/ServerTlsContext.h"
#include "tools/load-server/ServerTrace.h"

namespace korvane {

// The reference load server: one listening socket, one thread per
// connection, all sharing the key, the package folder and the record store.
class LoadServer {
public:
    explicit LoadServer(LoadServerOptions options);
    ~LoadServer();
    LoadServer(const LoadServer&) = delete;
    LoadServer& operator=(const LoadServer&) = delete;

    // Everything that can fail before the first client; false with a reason.
    bool start(std::string& error);
    std::string boundAddress() const { return listener_.boundAddress(); }

    // Serves until `stopFd` becomes readable, then lets every connection
    // notice within a tenth of a second and waits for them. False when the
    // listening socket fails.
    bool run(int stopFd);

    // More at once are closed right after accept, so a flood cannot exhaust
    // threads or descriptors.
    static constexpr std::size_t kMaxConnections = 256;

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void reapFinished();

    LoadServerOptions options_;
    ChallengeKey key_;
    ServerTlsContext tls_;
    LoadRecordStore store_;
    PackageFolder packages_;
    ServerTrace trace_;
    ChallengeLedger challenges_;
    ListeningSocket listener_;
    std::atomic<bool> stopping_{false};
    std::list<Worker> workers_;
    long connections_ = 0;
};

}  // namespace korvane
