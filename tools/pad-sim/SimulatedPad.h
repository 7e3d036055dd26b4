#pragma once

#include "tools/pad-sim/FileAssembly.h"
#include "tools/pad-sim/PadSimOptions.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korvane::padsim {

// What the pad does about one message it has acknowledged.
struct PadAnswer {
    std::vector<std::string> replies;  // message texts, sent one by one
    uint32_t delayMs = 0;              // before the replies (installing)
    uint32_t silentMs = 0;             // after the replies (restarting)
    std::string log;                   // one line for the operator; empty: nothing to say
};

// The RBA pad behind the link: its identification, its parameter store and
// the files it received. It answers message texts and knows nothing of
// frames, faults or time; PadSimulator puts it on a line. Not thread-safe.
class SimulatedPad {
public:
    explicit SimulatedPad(const PadSimOptions& options);

    PadAnswer handle(const std::string& text);

    // "G.I" with leading zeros dropped ("14.05" and "14.5" are one parameter);
    // empty when the name is not two decimal numbers.
    static std::string parameterKey(const std::string& group, const std::string& index);

    // Empty when the pad never held it.
    std::string parameter(const std::string& key) const;
    const std::map<std::pair<long, long>, std::string>& parameters() const { return parameters_; }
    // One "G.I=VALUE" line per parameter, in number order.
    std::string parameterListing() const;
    bool hasFile(const std::string& name) const { return files_.count(name) != 0; }
    std::string file(const std::string& name) const;
    const FileAssembly& download() const { return download_; }
    std::string reportedModel() const;
    const std::string& appVersion() const { return appVersion_; }
    const std::string& configVersion() const { return configVersion_; }

    // Counts files received since the start (also refused ones).
    int filesReceived() const { return filesReceived_; }

private:
    PadAnswer identify() const;
    PadAnswer getParameter(const std::string& text) const;
    PadAnswer setParameters(const std::string& text);
    PadAnswer keyCheck() const;
    PadAnswer fileBlock(const std::string& text);
    PadAnswer fileComplete();
    void storeFile(const std::string& name, const std::string& data);
    void writeParameters() const;

    PadSimOptions options_;
    std::string appVersion_;
    std::string configVersion_;
    std::map<std::pair<long, long>, std::string> parameters_;
    std::map<std::string, std::string> files_;
    FileAssembly download_;
    long refusalsLeft_ = 0;
    std::string refusalCode_;
    int filesReceived_ = 0;
};

// A pad text for display: printable ASCII as it is, FS and GS as <FS> and
// <GS>, every other byte as <xx> in hexadecimal.
std::string printable(const std::string& text, size_t limit = 200);

// A pad file name as a name inside the files folder: no folders, no "..".
std::string safeFileName(std::string name);

// Written beside `path` first and renamed over it, so a reader never sees half a file.
void writeAtomically(const std::string& path, const std::string& bytes);

}  // namespace korvane::padsim
