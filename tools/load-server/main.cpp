#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/TerminationSignal.h"
#include "tools/load-server/LoadRecordStore.h"
#include "tools/load-server/LoadServer.h"
#include "tools/load-server/LoadServerOptions.h"

// korvane-load-server: the reference load server for tests, the demo and
// staging. Exit status 0 after SIGTERM/SIGINT or a show action, 1 when the
// server cannot start or its socket fails, 2 for a usage error.
int main(int argc, char** argv) {
    using namespace korvane;
    LoadServerOptions options;
    std::string error;
    if (!parseLoadServerOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "korvane-load-server: %s\n%s", error.c_str(), loadServerUsage().c_str());
        return 2;
    }
    switch (options.action) {
    case LoadServerOptions::Action::help: std::fputs(loadServerUsage().c_str(), stdout); return 0;
    case LoadServerOptions::Action::showLoads:
    case LoadServerOptions::Action::showOperations: {
        const bool shown = options.action == LoadServerOptions::Action::showLoads
                               ? LoadRecordStore::printLoads(options.showPath, std::cout, error)
                               : LoadRecordStore::printOperations(options.showPath, std::cout, error);
        std::cout.flush();
        if (!shown) std::fprintf(stderr, "korvane-load-server: %s\n", error.c_str());
        return shown ? 0 : 1;
    }
    case LoadServerOptions::Action::serve: break;
    }

    const int stopFd = installTerminationSignalPipe();
    if (stopFd < 0) {
        std::fprintf(stderr, "korvane-load-server: cannot install the signal handlers\n");
        return 1;
    }
    LoadServer server(std::move(options));
    if (!server.start(error)) {
        std::fprintf(stderr, "korvane-load-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s\n", server.boundAddress().c_str());
    std::fflush(stdout);
    const bool healthy = server.run(stopFd);
    std::fprintf(stderr, "korvane-load-server: stopped\n");
    return healthy ? 0 : 1;
}
