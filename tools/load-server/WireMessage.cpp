#include "tools/load-server/WireMessage.h"

#include <cstdio>

namespace korvane {
namespace {

std::string_view stripCr(std::string_view line, std::string& scratch) {
    if (line.find('\r') == std::string_view::npos) return line;
    scratch.clear();
    for (char c : line)
        if (c != '\r') scratch.push_back(c);
    return scratch;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Name and value of one header line; false for a line without a colon.
bool splitHeader(std::string_view line, std::string_view& name, std::string_view& value) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    name = trimBlanks(line.substr(0, colon));
    value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    return true;
}

}  // namespace

MessageScanner::State MessageScanner::scan(std::string_view buffer) {
    if (badLength_) return State::badLength;
    if (!headerDone_) {
        std::string scratch;
        while (true) {
            const auto end = buffer.find('\n', lineStart_);
            if (end == std::string_view::npos) break;
            const std::string_view line = stripCr(buffer.substr(lineStart_, end - lineStart_), scratch);
            lineStart_ = end + 1;
            if (line.empty()) {
                headerDone_ = true;
                headerLength_ = lineStart_;
                break;
            }
            std::string_view name, value;
            if (splitHeader(line, name, value) && equalsIgnoringCase(name, "Content-Length")) {
                int64_t length = 0;
                if (!parseDecimal(trimBlanks(value), length)) {
                    badLength_ = true;
                    return State::badLength;
                }
                contentLength_ = static_cast<uint64_t>(length);
            }
        }
        if (!headerDone_) return lineStart_ > maxHeaderBytes_ || buffer.size() > maxHeaderBytes_ ? State::headerTooLong
                                                                                                   : State::incomplete;
    }
    return buffer.size() - headerLength_ >= contentLength_ ? State::complete : State::incomplete;
}

void MessageScanner::reset() {
    lineStart_ = headerLength_ = 0;
    contentLength_ = 0;
    headerDone_ = badLength_ = false;
}

std::string WireMessage::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (equalsIgnoringCase(key, name)) return value;
    return {};
}

bool WireMessage::hasHeader(std::string_view name) const {
    for (const auto& header : headers)
        if (equalsIgnoringCase(header.first, name)) return true;
    return false;
}

WireMessage parseWireMessage(std::string_view message, std::size_t headerLength) {
    WireMessage parsed;
    std::string scratch;
    std::size_t start = 0;
    while (start < headerLength) {
        auto end = message.find('\n', start);
        if (end == std::string_view::npos || end >= headerLength) end = headerLength;
        const std::string_view line = stripCr(message.substr(start, end - start), scratch);
        start = end + 1;
        std::string_view name, value;
        if (!line.empty() && splitHeader(line, name, value)) parsed.headers.emplace_back(name, trimBlanks(value));
    }
    if (headerLength < message.size()) parsed.body = message.substr(headerLength);
    return parsed;
}

std::map<std::string, std::string> parseItems(std::string_view body) {
    std::map<std::string, std::string> items;
    std::size_t start = 0;
    while (start <= body.size()) {
        auto end = body.find(kFieldSeparator, start);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view piece = body.substr(start, end - start);
        const auto equals = piece.find('=');
        if (equals != std::string_view::npos) items[std::string(piece.substr(0, equals))] = piece.substr(equals + 1);
        start = end + 1;
    }
    return items;
}

std::string itemsBody(const Items& items) {
    std::string body;
    for (const auto& [key, value] : items) {
        body += key;
        body += '=';
        body += value;
        body += kFieldSeparator;
    }
    return body;
}

std::string textMessage(std::string_view body) {
    std::string message = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    message += body;
    return message;
}

std::string blockMessage(long blockNumber, std::string_view bytes) {
    std::string message = "Content-Length: " + std::to_string(bytes.size()) + "\r\nBlockNo: " +
                          std::to_string(blockNumber) + "\r\n\r\n";
    message += bytes;
    return message;
}

bool parseDecimal(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    int64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    value = result;
    return true;
}

std::string renderForTrace(std::string_view bytes, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == kFieldSeparator) out += "[FS]";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out.push_back(static_cast<char>(c));
    }
    if (bytes.size() > limit) out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace korvane
