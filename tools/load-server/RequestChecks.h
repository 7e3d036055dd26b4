#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// What the loader must send, byte for byte, written from the wire format and
// independent of any code that builds these messages. Each deviation is one
// short line; the server still serves, so a faulty client stays testable.
using Violations = std::vector<std::string>;

// Every client challenge "CC" seen in this run of the server; a client that
// sends one twice does not draw fresh random bytes.
class ChallengeLedger {
public:
    // False when `challenge` was seen before.
    bool isFresh(const std::string& challenge);

private:
    std::mutex lock_;
    std::set<std::string> seen_;
};

// The request this connection expects: the challenge it sent and the answer
// its key gives for it.
struct RequestContext {
    std::string challenge;
    std::string expectedAnswer;  // empty for a challenge of odd length
};

// A request message, `headerLength` bytes of header (the blank line
// included) then the body: the one "Content-Length" line with CR LF, the
// items in their order with the trailing FS, "CC", "CR" and the values.
Violations checkRequest(std::string_view message, std::size_t headerLength, const RequestContext& context,
                        ChallengeLedger& ledger);

// The parts of a status message the sequence check needs.
struct StatusFields {
    bool readable = false;  // both counters were signed decimals
    int64_t lastGoodBlock = 0, nextBlockExpected = 0;
    std::string status, text;
};

// A status message's own form: the five header lines in their order and case
// with CR LF, "Content-Length: 0", signed decimal counters, "Success" or
// "Error", no body.
Violations checkStatusForm(std::string_view message, std::size_t headerLength, StatusFields& fields);

// Whether each status message is the one the client owes at that point of
// the operation: "OK_TO_CONTINUE" 0/1 to open a download, an acknowledgement
// of each block but the last, a re-request after a block with the wrong
// number, and the closing -1/-1 ("LOAD SUCCESSFUL" only after a success).
class StatusSequence {
public:
    // The response: whether it said "Success" and whether blocks follow.
    void responseSent(bool success, bool download, uint64_t fileLength);
    // Block `numberSent` (`bytes` long) went out when block `asked` was asked for.
    void blockSent(int64_t asked, int64_t numberSent, uint64_t bytes);

    // Checks one status message (form already checked); true when it closes the operation.
    bool check(const StatusFields& fields, Violations& violations);
    bool closed() const { return closed_; }

private:
    bool success_ = false, download_ = false, closed_ = false;
    uint64_t fileLength_ = 0, received_ = 0;
    int64_t lastGood_ = 0, next_ = 1;
    bool blockPending_ = false;  // a block went out and has not been answered
};

// Joined for the record and the trace.
std::string joinViolations(const Violations& violations);

}  // namespace korvane
