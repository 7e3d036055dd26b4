#pragma once

#include "tools/load-server/LoadServer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

namespace korvane::bench {

// The reference load server on a free loopback port, served from its own
// thread of this process, so a benchmark times the loader and not a process start.
class InProcessLoadServer {
public:
    InProcessLoadServer(const std::string& packageFolder, const std::string& databasePath, const std::string& secret,
                        std::size_t blockSize = 0) {
        LoadServerOptions options;
        options.port = 0;
        options.packageFolder = packageFolder;
        options.databasePath = databasePath;
        options.secret = secret;
        if (blockSize != 0) options.blockSize = blockSize;
        if (::pipe(stop_) != 0) throw std::runtime_error("no pipe");
        server_ = std::make_unique<LoadServer>(std::move(options));
        std::string error;
        if (!server_->start(error)) throw std::runtime_error(error);
        const std::string bound = server_->boundAddress();
        port_ = static_cast<uint16_t>(std::stoi(bound.substr(bound.rfind(':') + 1)));
        thread_ = std::thread([this] { server_->run(stop_[0]); });
    }
    ~InProcessLoadServer() {
        (void)::write(stop_[1], "x", 1);
        thread_.join();
        server_.reset();
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    InProcessLoadServer(const InProcessLoadServer&) = delete;
    InProcessLoadServer& operator=(const InProcessLoadServer&) = delete;

    uint16_t port() const { return port_; }

private:
    int stop_[2] = {-1, -1};
    std::unique_ptr<LoadServer> server_;
    std::thread thread_;
    uint16_t port_ = 0;
};

}  // namespace korvane::bench
