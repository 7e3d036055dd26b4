#include "platform/TerminationSignal.h"
#include "tools/pad-sim/EquinoxSimulator.h"
#include "tools/pad-sim/PadSimOptions.h"
#include "tools/pad-sim/PadSimulator.h"
#include "tools/pad-sim/VerifoneSimulator.h"

#include <cstdio>
#include <mutex>
#include <poll.h>
#include <string>
#include <vector>

namespace {

// Until SIGINT or SIGTERM.
void awaitTermination(int stopFd) {
    for (;;) {
        pollfd watch{stopFd, POLLIN, 0};
        if (::poll(&watch, 1, -1) > 0 && korvane::takeTerminationSignal(stopFd) != 0) return;
    }
}

}  // namespace

// korvane-pad-sim: an RBA pad, an Equinox L5300 or a Verifone pad on a pseudo-terminal, for a
// technician without a pad and for the end-to-end tests. Exit status 0 after
// SIGINT/SIGTERM or --help, 1 when the line cannot be set up, 2 for a usage error.
int main(int argc, char** argv) {
    using namespace korvane;
    using namespace korvane::padsim;
    PadSimOptions options;
    std::string error;
    if (!parsePadSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "korvane-pad-sim: %s\n%s", error.c_str(), padSimUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(padSimUsage().c_str(), stdout);
        return 0;
    }
    const int stopFd = installTerminationSignalPipe();
    if (stopFd < 0) {
        std::fprintf(stderr, "korvane-pad-sim: cannot install the signal handlers\n");
        return 1;
    }

    std::mutex outputLock;
    auto print = [&](const std::string& line) {
        std::lock_guard<std::mutex> guard(outputLock);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };

    if (isVerifoneModel(options.model)) {
        VerifoneSimulator simulator(options, print);
        if (!simulator.start(error)) {
            std::fprintf(stderr, "korvane-pad-sim: %s\n", error.c_str());
            return 1;
        }
        awaitTermination(stopFd);
        simulator.stop();
        print("pad stopped");
        return 0;
    }
    if (isEquinoxModel(options.model)) {
        EquinoxSimulator simulator(options, print);
        if (!simulator.start(error)) {
            std::fprintf(stderr, "korvane-pad-sim: %s\n", error.c_str());
            return 1;
        }
        awaitTermination(stopFd);
        simulator.stop();  // logs what was still owed and the summary
        print("pad stopped");
        return 0;
    }

    PadSimulator simulator(options, print);
    if (!simulator.start(error)) {
        std::fprintf(stderr, "korvane-pad-sim: %s\n", error.c_str());
        return 1;
    }
    awaitTermination(stopFd);
    simulator.stop();
    const std::string listing = simulator.parameterListing();
    std::lock_guard<std::mutex> guard(outputLock);
    std::printf("parameters at exit:%s\n", listing.empty() ? " none" : "");
    if (!listing.empty()) std::fputs(listing.c_str(), stdout);
    std::printf("pad stopped\n");
    return 0;
}
