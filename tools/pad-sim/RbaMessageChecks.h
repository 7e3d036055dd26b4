#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane::padsim {

// What an RBA pad may be sent, message by message, written from the message
// texts the loader must use: the fixed commands exactly, the prompt and
// parameter messages by their form, the fixed "60." list in its order, and
// every "62." block against the download so far (header fields, OGZ flag
// against the file name, escapes, payload length against the block size,
// block count against the data). Each deviation is one line; the pad still
// answers as it would. Not thread-safe.
class RbaMessageChecks {
public:
    // Every block but the last carries this many payload bytes (one more when
    // its last byte needed an escape).
    static constexpr std::size_t kBlockSize = 4000;

    // The violations of one message text, given the messages before it. A
    // download may stop after any block (a cancel, a pad that refused), so a
    // new first block is no violation.
    std::vector<std::string> check(std::string_view text);

private:
    void checkBlock(std::string_view text, std::vector<std::string>& violations);

    // The "62." download under way.
    bool downloading_ = false;
    std::string fileName_;
    int blocks_ = 0;
    int lastSequence_ = 0;
    std::size_t escapedBytes_ = 0;  // payload bytes on the wire so far
    bool dataEnded_ = false;        // a block came with less than a full payload
};

}  // namespace korvane::padsim
