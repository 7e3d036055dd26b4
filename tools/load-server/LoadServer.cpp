#include "tools/load-server/LoadServer.h"

#include <unistd.h>

#include "tools/load-server/LoadSession.h"
#include "tools/load-server/TlsConnection.h"

namespace korvane {
namespace {

bool isUsualSecret(const std::string& secret) {
    if (secret.size() != 33) return false;
    for (char c : secret)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

}  // namespace

LoadServer::LoadServer(LoadServerOptions options)
    : options_(std::move(options)), packages_(options_.packageFolder), trace_(options_.trace) {}

LoadServer::~LoadServer() {
    stopping_ = true;
    for (Worker& worker : workers_)
        if (worker.thread.joinable()) worker.thread.join();
}

bool LoadServer::start(std::string& error) {
    if (!isUsualSecret(options_.secret))
        trace_.note("warning: the secret is not 33 upper-case letters and digits, as installations use");
    if (!options_.faults.empty()) trace_.note("warning: fault switches are on; this server breaks the protocol");
    return key_.initialise(options_.secret, error) && packages_.validate(error) &&
           store_.open(options_.databasePath, error) &&
           tls_.initialise(options_.certificatePath, options_.keyPath, error) &&
           listener_.open(options_.listenAddress, options_.port, error);
}

void LoadServer::reapFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool LoadServer::run(int stopFd) {
    const ServerSetup setup{options_, key_, store_, packages_, trace_, challenges_};
    bool healthy = true;
    while (true) {
        int clientFd = -1;
        std::string peer;
        const ListeningSocket::Accept accepted = listener_.accept(stopFd, clientFd, peer);
        if (accepted != ListeningSocket::Accept::connection) {
            healthy = accepted == ListeningSocket::Accept::woken;
            if (!healthy) trace_.note("the listening socket failed");
            break;
        }
        reapFinished();
        if (workers_.size() >= kMaxConnections) {
            trace_.note("too many connections; closing one from " + peer);
            ::close(clientFd);
            continue;
        }
        const long number = ++connections_;
        auto done = std::make_shared<std::atomic<bool>>(false);
        try {
            std::thread thread([this, &setup, clientFd, number, peer, done] {
                {
                    TlsConnection connection(clientFd, tls_.get(), stopping_);
                    LoadSession session(connection, setup, number, peer);
                    session.run();
                }
                done->store(true);
            });
            workers_.push_back({std::move(thread), done});
        } catch (const std::system_error&) {
            trace_.note("cannot start a thread; closing the connection from " + peer);
            ::close(clientFd);
        }
    }
    stopping_ = true;
    for (Worker& worker : workers_) worker.thread.join();
    workers_.clear();
    return healthy;
}

}  // namespace korvane
