#pragma once

#include "tests/e2e/LoadRig.h"
#include "tests/support/TempDir.h"

#include <map>
#include <string>
#include <vector>

namespace korvane::test {

// A Verifone pad on the load rig: the simulated Vx805 or P400, and the
// loader's working directory with the ddl.exe stand-in first on PATH, each of
// its runs recorded.
PadSetup verifonePad(const std::string& model, std::vector<std::string> faults = {});

// One run of the stand-in as it recorded it.
struct StandInRun {
    std::vector<std::string> arguments;
    std::vector<std::string> files;  // "name size mode sha256", sorted by name
    bool ended = false;              // ended by itself (not stopped at its limit)
};

class StandInRecord {
public:
    StandInRecord();
    // The stand-in and its record in the environment of korvane-load runs
    // made by `rig`, in the working directory `work`.
    void attach(LoadRig& rig, const TempDir& work) const;
    std::vector<StandInRun> runs() const;
    // Forgets every run recorded so far.
    void clear() const;
    const std::string& path() const { return folder_.path(); }

private:
    TempDir folder_;
};

// "name size 600 sha256" for every entry of a bundle file, read by hand
// (eight-digit length, 40-byte name padded with spaces, data), sorted.
std::vector<std::string> bundleFileLines(const std::string& bundleBytes);

// The entries of the working directory.
std::vector<std::string> entriesOf(const std::string& folder);

}  // namespace korvane::test
