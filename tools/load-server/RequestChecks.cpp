#include "tools/load-server/RequestChecks.h"

#include <algorithm>
#include <map>

#include "tools/load-server/WireMessage.h"

namespace korvane {
namespace {

constexpr const char* kOkToContinue = "OK_TO_CONTINUE";
constexpr const char* kLoadSuccessful = "LOAD SUCCESSFUL";

std::string quoted(std::string_view text) { return "\"" + renderForTrace(text, 80) + "\""; }

bool isUpperHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// As "%d" writes it: no sign unless negative, no leading zero, no blank.
bool isPrintedDecimal(std::string_view text, bool allowSign, int64_t& value) {
    bool negative = false;
    if (allowSign && !text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || (text.size() > 1 && text.front() == '0') || (negative && text == "0")) return false;
    if (!parseDecimal(text, value)) return false;
    if (negative) value = -value;
    return true;
}

// The header lines without their line ends; each one not ended by CR LF, or
// with a CR inside, is a violation. The blank line is checked and left out.
std::vector<std::string_view> headerLines(std::string_view message, std::size_t headerLength, Violations& violations) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < headerLength) {
        auto end = message.find('\n', start);
        if (end == std::string_view::npos || end >= headerLength) end = headerLength;
        std::string_view line = message.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        } else {
            violations.push_back((line.empty() ? std::string("the blank line") : "header line " + quoted(line)) +
                                 " ends with LF alone, not CR LF");
        }
        if (line.find('\r') != std::string_view::npos)
            violations.push_back("header line " + quoted(line) + " holds a CR");
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

std::string_view headerName(std::string_view line) {
    const auto colon = line.find(':');
    return colon == std::string_view::npos ? line : line.substr(0, colon);
}

// The items after the keyword, for each request keyword.
const std::vector<std::string>* itemsAfterKeyword(const std::string& keyword) {
    static const std::map<std::string, std::vector<std::string>> kRequests = {
        {"PP_APP", {"PP_KVRN_SN", "PP_MODEL"}},
        {"PP_CONFIG", {"PP_KVRN_SN", "PP_MODEL"}},
        {"PP_GET_FILE", {"PP_FILENAME"}},
        {"PP_LOAD", {"PP_APP_VER", "PP_CONFIG_VER", "PP_KVRN_SN", "PP_MODEL", "PP_OEM_ID"}},
        {"PP_LOAD_STATUS", {"PP_KVRN_SN", "PP_KVRN_DEV_ID", "PP_OUTCOME", "PP_APP_VER", "PP_CONFIG_VER"}},
    };
    const auto found = kRequests.find(keyword);
    return found == kRequests.end() ? nullptr : &found->second;
}

void checkRequestHeader(const std::vector<std::string_view>& lines, std::size_t bodyLength, Violations& violations) {
    int lengthLines = 0;
    for (std::string_view line : lines) {
        constexpr std::string_view kPrefix = "Content-Length: ";
        if (line.substr(0, kPrefix.size()) == kPrefix) {
            ++lengthLines;
            int64_t value = 0;
            if (!isPrintedDecimal(line.substr(kPrefix.size()), false, value))
                violations.push_back("header line " + quoted(line) + " does not give the length as a plain decimal");
            else if (static_cast<uint64_t>(value) != bodyLength)
                violations.push_back("header line " + quoted(line) + " but the body has " +
                                     std::to_string(bodyLength) + " bytes");
        } else if (equalsIgnoringCase(headerName(line), "Content-Length")) {
            ++lengthLines;
            violations.push_back("header line " + quoted(line) + " is not written \"Content-Length: N\"");
        } else {
            violations.push_back("header line " + quoted(line) + " is not part of a request");
        }
    }
    if (lengthLines == 0) violations.push_back("no \"Content-Length: \" header line");
    if (lengthLines > 1) violations.push_back(std::to_string(lengthLines) + " Content-Length lines");
}

struct Item {
    std::string key, value;
};

// The items in their order; every form fault of the list is a violation.
std::vector<Item> splitItems(std::string_view body, Violations& violations) {
    std::vector<Item> items;
    if (body.empty()) {
        violations.push_back("the request body is empty");
        return items;
    }
    if (body.back() != kFieldSeparator) violations.push_back("the last item is not followed by FS");
    std::size_t start = 0;
    while (start < body.size()) {
        auto end = body.find(kFieldSeparator, start);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view piece = body.substr(start, end - start);
        start = end + 1;
        const auto equals = piece.find('=');
        if (piece.empty()) violations.push_back("an empty item (two FS in a row)");
        else if (equals == std::string_view::npos) violations.push_back("item " + quoted(piece) + " has no \"=\"");
        else items.push_back({std::string(piece.substr(0, equals)), std::string(piece.substr(equals + 1))});
    }
    return items;
}

std::string keyList(const std::vector<std::string>& keys) {
    std::string text;
    for (const std::string& key : keys) text += (text.empty() ? "" : ",") + key;
    return text;
}

void checkItemList(const std::vector<Item>& items, const std::vector<std::string>& expected,
                   Violations& violations) {
    std::map<std::string, int> counts;
    std::vector<std::string> sent;
    for (const Item& item : items) {
        if (counts[item.key]++ == 0) sent.push_back(item.key);
        if (std::find(expected.begin(), expected.end(), item.key) == expected.end())
            violations.push_back("unexpected item " + quoted(item.key));
    }
    for (const auto& [key, count] : counts)
        if (count > 1) violations.push_back("item " + key + " sent " + std::to_string(count) + " times");
    std::vector<std::string> expectedSent;
    for (const std::string& key : expected) {
        if (counts.count(key) == 0) violations.push_back("item " + key + " missing");
        else expectedSent.push_back(key);
    }
    std::vector<std::string> sentKnown;
    for (const std::string& key : sent)
        if (std::find(expected.begin(), expected.end(), key) != expected.end()) sentKnown.push_back(key);
    if (sentKnown != expectedSent)
        violations.push_back("items in the order " + keyList(sentKnown) + ", not " + keyList(expectedSent));
}

void checkValues(const std::vector<Item>& items, const RequestContext& context, ChallengeLedger& ledger,
                 Violations& violations) {
    std::map<std::string, std::string> values;
    for (const Item& item : items) values.emplace(item.key, item.value);  // the first of a repeated key
    auto value = [&](const char* key) -> const std::string* {
        const auto found = values.find(key);
        return found == values.end() ? nullptr : &found->second;
    };
    if (const std::string* cc = value("CC")) {
        if (cc->size() != 32 || !isUpperHex(*cc))
            violations.push_back("CC " + quoted(*cc) + " is not 32 upper-case hexadecimal digits");
        if (!cc->empty() && !ledger.isFresh(*cc)) violations.push_back("CC " + *cc + " was sent before in this run");
    }
    if (const std::string* cr = value("CR")) {
        if (context.expectedAnswer.empty()) {
            if (!cr->empty())
                violations.push_back("CR " + quoted(*cr) + " answers a challenge of odd length, which gets none");
        } else if (!isUpperHex(*cr)) {
            violations.push_back("CR " + quoted(*cr) + " is not upper-case hexadecimal");
        } else if (*cr != context.expectedAnswer) {
            violations.push_back("CR " + *cr + " does not answer the challenge");
        }
    }
    if (const std::string* versions = value("PP_APP_VER")) {
        if (std::count(versions->begin(), versions->end(), '|') != 1)
            violations.push_back("PP_APP_VER " + quoted(*versions) + " is not VERSION|SECOND-IDENTIFIER");
    }
}

}  // namespace

bool ChallengeLedger::isFresh(const std::string& challenge) {
    std::lock_guard<std::mutex> guard(lock_);
    return seen_.insert(challenge).second;
}

Violations checkRequest(std::string_view message, std::size_t headerLength, const RequestContext& context,
                        ChallengeLedger& ledger) {
    Violations violations;
    const auto lines = headerLines(message, headerLength, violations);
    const std::string_view body = message.substr(std::min(headerLength, message.size()));
    checkRequestHeader(lines, body.size(), violations);

    const std::vector<Item> items = splitItems(body, violations);
    std::string keyword;
    for (const Item& item : items)
        if (item.key == "REQ") {
            keyword = item.value;
            break;
        }
    std::vector<std::string> expected = {"CC", "CR", "REQ"};
    if (const auto* rest = itemsAfterKeyword(keyword)) expected.insert(expected.end(), rest->begin(), rest->end());
    else if (!keyword.empty()) violations.push_back("request keyword REQ=" + quoted(keyword) + " is unknown");
    checkItemList(items, expected, violations);
    checkValues(items, context, ledger, violations);
    return violations;
}

Violations checkStatusForm(std::string_view message, std::size_t headerLength, StatusFields& fields) {
    Violations violations;
    const auto lines = headerLines(message, headerLength, violations);
    if (message.size() > headerLength)
        violations.push_back("a status message with a body of " + std::to_string(message.size() - headerLength) +
                             " bytes");
    static const char* const kNames[] = {"Content-Length", "Last-Good-Block", "Next-Block-Expected", "Status",
                                         "Status-Text"};
    constexpr std::size_t kLineCount = std::size(kNames);
    std::string names;
    for (std::string_view line : lines) names += (names.empty() ? "" : ",") + std::string(headerName(line));
    if (names != "Content-Length,Last-Good-Block,Next-Block-Expected,Status,Status-Text")
        violations.push_back("status header lines " + quoted(names) +
                             ", not Content-Length,Last-Good-Block,Next-Block-Expected,Status,Status-Text");

    bool lastGoodRead = false, nextRead = false;
    for (const std::string_view line : lines) {
        for (std::size_t n = 0; n < kLineCount; ++n) {
            const std::string prefix = std::string(kNames[n]) + ": ";
            if (line.substr(0, prefix.size()) != prefix) {
                if (equalsIgnoringCase(headerName(line), kNames[n]))
                    violations.push_back("header line " + quoted(line) + " is not written \"" + prefix + "...\"");
                continue;
            }
            const std::string_view value = line.substr(prefix.size());
            int64_t number = 0;
            switch (n) {
            case 0:
                if (value != "0") violations.push_back("a status message with " + quoted(line) + ", not 0");
                break;
            case 1:
            case 2:
                if (!isPrintedDecimal(value, true, number)) {
                    violations.push_back("header line " + quoted(line) + " is not a signed decimal");
                } else if (n == 1) {
                    fields.lastGoodBlock = number;
                    lastGoodRead = true;
                } else {
                    fields.nextBlockExpected = number;
                    nextRead = true;
                }
                break;
            case 3:
                fields.status = value;
                if (value != "Success" && value != "Error")
                    violations.push_back("status " + quoted(value) + " is neither \"Success\" nor \"Error\"");
                break;
            default: fields.text = value; break;
            }
        }
    }
    fields.readable = lastGoodRead && nextRead;
    return violations;
}

void StatusSequence::responseSent(bool success, bool download, uint64_t fileLength) {
    success_ = success;
    download_ = success && download;
    fileLength_ = fileLength;
}

void StatusSequence::blockSent(int64_t asked, int64_t numberSent, uint64_t bytes) {
    blockPending_ = true;
    if (numberSent != asked || numberSent != next_) return;  // the client must ask for next_ again
    lastGood_ = next_++;
    received_ += bytes;
}

bool StatusSequence::check(const StatusFields& fields, Violations& violations) {
    const std::string counters = std::to_string(fields.lastGoodBlock) + "/" + std::to_string(fields.nextBlockExpected);
    if (closed_) {
        violations.push_back("a status message after the closing one");
        return true;
    }
    if (fields.status == "Success" && fields.text == kOkToContinue) {
        if (!download_) {
            violations.push_back("OK_TO_CONTINUE where no download is under way");
        } else if (blockPending_ && received_ >= fileLength_) {
            violations.push_back("OK_TO_CONTINUE " + counters + " after the last block, which is not acknowledged");
        } else if (fields.readable && (fields.lastGoodBlock != lastGood_ || fields.nextBlockExpected != next_)) {
            violations.push_back("OK_TO_CONTINUE " + counters + " where " + std::to_string(lastGood_) + "/" +
                                 std::to_string(next_) + " is due");
        }
        blockPending_ = false;
        return false;
    }
    closed_ = true;
    if (fields.readable && (fields.lastGoodBlock != -1 || fields.nextBlockExpected != -1))
        violations.push_back("closing status with counters " + counters + ", not -1/-1");
    if (fields.status == "Success") {
        if (fields.text != kLoadSuccessful)
            violations.push_back("closing Success with Status-Text " + quoted(fields.text) + ", not \"" +
                                 kLoadSuccessful + "\"");
        if (!success_) violations.push_back("closing Success after a refused request");
        else if (download_ && received_ < fileLength_)
            violations.push_back("closing Success after " + std::to_string(received_) + " of " +
                                 std::to_string(fileLength_) + " bytes");
    }
    return true;
}

std::string joinViolations(const Violations& violations) {
    std::string text;
    for (const std::string& violation : violations) text += (text.empty() ? "" : "; ") + violation;
    return text;
}

}  // namespace korvane
