#pragma once

#include <string>
#include <string_view>

namespace korvane {

// The FS control byte between the KEY=value items of a message body.
inline constexpr char kFieldSeparator = '\x1c';

// One message received from the load server: the headers the client reads,
// the raw body and the known items of a response body. Every text starts empty.
struct LoadServerResponse {
    std::string rawBody;            // everything after the blank line, byte for byte
    std::string blockNumber;        // header "BlockNo: "
    std::string challengeAnswer;    // "CR"
    std::string status;             // "Status"; "Success" means accepted
    std::string errorText;          // "Error"
    std::string loadIdentifier;     // "KVRN_DEV_ID"
    std::string fileDigest;         // "MD5Sum"
    std::string fileLength;         // "FileLen" when present, else "CompressedLen"
    std::string compressionMethod;  // "CompressionMethod"
    std::string version;            // "Version"
    std::string infoFileName;       // "AddInfoFileName"

    void reset() { *this = LoadServerResponse{}; }

    // Resets the record, then reads the header lines (split at LF, CR dropped)
    // up to the first empty line; the rest is the raw body. Without an empty
    // line every line is a header and the body is empty. False when the
    // message has no header line at all.
    bool parseHeaders(std::string_view message);

    // Splits the raw body at FS into KEY=value items (keys exact case, the last
    // of a repeated key wins, pieces without "=" skipped) and copies the known ones.
    void parseItems();
};

// True once `received` holds a whole message: its blank line has arrived and
// exactly the announced Content-Length of bytes follows it (no length, or 0:
// complete at the blank line). Only the header lines are scanned, so the cost
// does not grow with the body.
bool isCompleteMessage(std::string_view received);

}  // namespace korvane
