#include "server/LoadServerResponse.h"

#include <cstdint>

namespace korvane {

namespace {

constexpr std::string_view kContentLength = "CONTENT-LENGTH:";
// The value is read from the 17th character: one character (a space) is
// expected between the colon and the digits.
constexpr std::size_t kContentLengthValueAt = 16;
constexpr std::string_view kBlockNumber = "BlockNo: ";

// A line as the client sees it: every CR dropped.
std::string withoutCarriageReturns(std::string_view line) {
    std::string cleaned;
    cleaned.reserve(line.size());
    for (char c : line)
        if (c != '\r') cleaned.push_back(c);
    return cleaned;
}

bool isOnlyCarriageReturns(std::string_view line) {
    for (char c : line)
        if (c != '\r') return false;
    return true;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// atoi's reading (leading blanks, a sign, digits up to the first other
// character), saturating instead of overflowing.
int64_t leadingDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    constexpr int64_t kLimit = INT64_MAX / 10 - 10;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < kLimit) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

// The Content-Length a header line announces, if it is that header.
bool announcedLength(std::string_view rawLine, int64_t& length) {
    const std::size_t first = rawLine.find_first_not_of('\r');
    if (first == std::string_view::npos || (rawLine[first] != 'C' && rawLine[first] != 'c')) return false;
    const std::string line = withoutCarriageReturns(rawLine);
    if (line.size() < kContentLength.size()) return false;
    for (std::size_t i = 0; i < kContentLength.size(); ++i)
        if (upper(line[i]) != kContentLength[i]) return false;
    length = line.size() > kContentLengthValueAt
                 ? leadingDecimal(std::string_view(line).substr(kContentLengthValueAt))
                 : 0;
    return true;
}

}  // namespace

bool isCompleteMessage(std::string_view received) {
    int64_t expected = 0;
    std::size_t position = 0;
    for (;;) {
        const std::size_t lineEnd = received.find('\n', position);
        if (lineEnd == std::string_view::npos) return false;  // the blank line has not arrived
        const std::string_view line = received.substr(position, lineEnd - position);
        if (isOnlyCarriageReturns(line)) {
            const std::size_t following = received.size() - (lineEnd + 1);
            return expected == 0 || (expected > 0 && static_cast<uint64_t>(expected) == following);
        }
        int64_t length = 0;
        if (announcedLength(line, length)) expected = length;
        position = lineEnd + 1;
    }
}

bool LoadServerResponse::parseHeaders(std::string_view message) {
    reset();
    bool anyHeader = false;
    std::size_t position = 0;
    while (position < message.size()) {
        const std::size_t lineEnd = message.find('\n', position);
        const std::string_view rawLine = lineEnd == std::string_view::npos
                                             ? message.substr(position)
                                             : message.substr(position, lineEnd - position);
        if (isOnlyCarriageReturns(rawLine)) {
            if (lineEnd != std::string_view::npos) rawBody.assign(message.substr(lineEnd + 1));
            break;
        }
        anyHeader = true;
        // Exact case and the space: "blockno: 3" is not this header.
        const std::string line = withoutCarriageReturns(rawLine);
        if (line.starts_with(kBlockNumber)) blockNumber = line.substr(kBlockNumber.size());
        if (lineEnd == std::string_view::npos) break;
        position = lineEnd + 1;
    }
    return anyHeader;
}

void LoadServerResponse::parseItems() {
    std::string compressedLength;
    std::string fullLength;
    bool haveFullLength = false;

    std::string_view body = rawBody;
    std::size_t position = 0;
    while (position <= body.size()) {
        std::size_t pieceEnd = body.find(kFieldSeparator, position);
        if (pieceEnd == std::string_view::npos) pieceEnd = body.size();
        const std::string_view piece = body.substr(position, pieceEnd - position);
        position = pieceEnd + 1;

        const std::size_t equals = piece.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = piece.substr(0, equals);
        const std::string_view value = piece.substr(equals + 1);
        if (key == "CR") challengeAnswer.assign(value);
        else if (key == "Status") status.assign(value);
        else if (key == "Error") errorText.assign(value);
        else if (key == "KVRN_DEV_ID") loadIdentifier.assign(value);
        else if (key == "MD5Sum") fileDigest.assign(value);
        else if (key == "CompressedLen") compressedLength.assign(value);
        else if (key == "FileLen") {
            fullLength.assign(value);
            haveFullLength = true;
        } else if (key == "CompressionMethod") compressionMethod.assign(value);
        else if (key == "Version") version.assign(value);
        else if (key == "AddInfoFileName") infoFileName.assign(value);
    }
    fileLength = haveFullLength ? fullLength : compressedLength;
}

}  // namespace korvane
