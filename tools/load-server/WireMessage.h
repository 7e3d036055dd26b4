#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane {

// The loader's HTTP-like framing as the server reads and writes it: header
// lines, a blank line, a body of Content-Length bytes. Lines end with LF; CR
// bytes in header lines are dropped, so LF and CR LF both work.

inline constexpr char kFieldSeparator = '\x1C';

// Finds where a message in a growing buffer ends, without rescanning the
// header lines it has already seen.
class MessageScanner {
public:
    enum class State { incomplete, complete, headerTooLong, badLength };

    explicit MessageScanner(std::size_t maxHeaderBytes) : maxHeaderBytes_(maxHeaderBytes) {}

    // `buffer` must be the same buffer, grown, on every call until reset().
    State scan(std::string_view buffer);
    void reset();

    // Valid once the header has ended: its size including the blank line.
    std::size_t headerLength() const { return headerLength_; }
    uint64_t contentLength() const { return contentLength_; }
    bool headerComplete() const { return headerDone_; }

private:
    std::size_t maxHeaderBytes_;
    std::size_t lineStart_ = 0;
    std::size_t headerLength_ = 0;
    uint64_t contentLength_ = 0;
    bool headerDone_ = false;
    bool badLength_ = false;
};

struct WireMessage {
    std::vector<std::pair<std::string, std::string>> headers;  // name, value without the leading blanks
    std::string body;

    // The first header of that name, compared without regard to case; empty if none.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
};

// Splits a complete message (`headerLength` from the scanner) into headers and body.
WireMessage parseWireMessage(std::string_view message, std::size_t headerLength);

// Body items KEY=value separated by FS; pieces without "=" are skipped, a
// repeated key keeps its last value.
std::map<std::string, std::string> parseItems(std::string_view body);

using Items = std::vector<std::pair<std::string, std::string>>;

// Every item followed by FS, the last one too.
std::string itemsBody(const Items& items);
// "Content-Length: N" CR LF, CR LF, body.
std::string textMessage(std::string_view body);
// A block of the download: Content-Length and "BlockNo: N", then the raw bytes.
std::string blockMessage(long blockNumber, std::string_view bytes);

// Strict decimal: digits only, no sign, fits in int64.
bool parseDecimal(std::string_view text, int64_t& value);

// Control bytes and non-ASCII shown readably, for the trace.
std::string renderForTrace(std::string_view bytes, std::size_t limit = 600);

}  // namespace korvane
