#include "platform/TerminationSignal.h"
#include "tools/pad-sim/EquinoxSimulator.h"
#include "tools/pad-sim/PadSimOptions.h"
#include "tools/pad-sim/PadSimulator.h"
#include "tools/pad-sim/VerifoneSimulator.h"
#include "tools/padpeer/LineNoise.h"
#include "tools/padpeer/PtyPeer.h"

#include <cstdio>
#include <functional>
#include <memory>
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

    // Below every pad family: whatever line a simulator opens, even a fresh
    // one after an unplugging restart, carries the noise.
    std::shared_ptr<padpeer::LineNoise> noise;
    if (options.noise) {
        noise = std::make_shared<padpeer::LineNoise>(*options.noise, print);
        padpeer::PtyPeer::addNoiseToNewLines(noise);
    }
    // After "pad ready on ...", which stays the first line.
    auto announceNoise = [&] {
        if (!noise) return;
        char settings[96];
        std::snprintf(settings, sizeof(settings), "noise: rate %g per byte, seed %llu", options.noise->rate,
                      static_cast<unsigned long long>(options.noise->seed));
        print(settings);
    };

    // Every family runs alike until SIGINT or SIGTERM; `afterStop` says what
    // the family has to add before the last line. Gives the exit status.
    auto runUntilTerminated = [&](auto& simulator, const std::function<void()>& afterStop) {
        if (!simulator.start(error)) {
            std::fprintf(stderr, "korvane-pad-sim: %s\n", error.c_str());
            return 1;
        }
        announceNoise();
        awaitTermination(stopFd);
        simulator.stop();  // an Equinox or Verifone pad logs what was still owed and its summary
        if (noise) print(noise->summary());
        afterStop();
        print("pad stopped");
        return 0;
    };

    if (isVerifoneModel(options.model)) {
        VerifoneSimulator simulator(options, print);
        return runUntilTerminated(simulator, [] {});
    }
    if (isEquinoxModel(options.model)) {
        EquinoxSimulator simulator(options, print);
        return runUntilTerminated(simulator, [] {});
    }
    PadSimulator simulator(options, print);
    return runUntilTerminated(simulator, [&] {
        const std::string listing = simulator.parameterListing();
        print(std::string("parameters at exit:") + (listing.empty() ? " none" : ""));
        if (!listing.empty()) {
            std::lock_guard<std::mutex> guard(outputLock);
            std::fputs(listing.c_str(), stdout);
            std::fflush(stdout);
        }
    });
}
