#pragma once

#include "tools/pad-sim/ChunkAssembly.h"
#include "tools/pad-sim/PadSimOptions.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane::padsim {

// What the Equinox pad does about one message it has acknowledged.
struct EquinoxAnswer {
    std::vector<std::string> replies;     // message texts, sent one by one
    bool segmentable = false;             // the loader reads these replies segment by segment
    bool restart = false;                 // after the replies the pad restarts
    bool againAfterRestart = false;       // the message is taken anew once the pad is back
    std::string log;                      // one line for the operator; empty: nothing to say
    std::vector<std::string> violations;  // deviations from the protocol, one sentence each
};

// The Equinox L5300 behind the link: its identity, its key variables, the
// files it holds and the packing-list transfer. It answers message texts and
// knows nothing of frames, faults on the line or time; EquinoxSimulator puts
// it on a line. Not thread-safe.
//
// A transfer: the loader sends "PACKINGLIST" (names, one per LF-terminated
// line, a CR before the LF ignored); the pad answers each complete file but
// the last with "R" and the next name of the list, in list order, and
// restarts after the last. The loader sends no chunk for an empty file: when
// "T" comes while only the list's last name is outstanding, that file is
// taken as empty and the pad restarts then.
class SimulatedEquinox {
public:
    explicit SimulatedEquinox(const PadSimOptions& options);

    EquinoxAnswer handle(const std::string& text);

    // A fault of the line struck the message just handled (or about to be):
    // names of the current transfer that never arrive are then no violation.
    void noteFault() { faultInTransfer_ = true; }

    // At exit: what is still outstanding, as violations.
    std::vector<std::string> finish();

    bool hasFile(const std::string& name) const { return files_.count(name) != 0; }
    std::string file(const std::string& name) const;
    std::vector<std::string> fileNames() const;
    // Every file completed since the start, in order of arrival (also those LALL deleted).
    const std::vector<std::string>& arrivals() const { return arrivals_; }
    int transfers() const { return transfers_; }

private:
    EquinoxAnswer typeQuery();
    EquinoxAnswer identity() const;
    EquinoxAnswer variable(const std::string& name) const;
    EquinoxAnswer deleteAll();
    EquinoxAnswer chunk(const std::string& text);
    EquinoxAnswer fileArrived(const std::string& name, const std::string& data, int chunks);
    EquinoxAnswer packingList(const std::string& data, int chunks);
    // The next request, or the end of the transfer when nothing is left.
    void requestNext(EquinoxAnswer& answer);
    // Ends the current transfer; names still wanted become violations unless a fault explains them.
    void closeTransfer(const std::string& why, std::vector<std::string>& violations);
    void store(const std::string& name, const std::string& data);
    std::string fileLocation(const std::string& name) const;

    PadSimOptions options_;
    std::map<std::string, std::string> files_;
    ChunkAssembly assembly_;
    std::vector<std::string> arrivals_;

    // The transfer under way.
    bool transferOpen_ = false;
    std::deque<std::string> wanted_;      // names not asked for yet, in list order
    std::optional<std::string> asked_;    // the name last asked for, not yet arrived
    bool faultInTransfer_ = false;
    bool deletedSinceList_ = false;  // "LALL" came since the last packing list
    int transfers_ = 0;
    std::vector<std::string> unknownRequests_;  // fault names still to ask for
};

}  // namespace korvane::padsim
