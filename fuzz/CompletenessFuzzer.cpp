// The in-place completeness test against a plain reading of its rule that
// copies every line, on arbitrary bytes.
#include "server/LoadServerResponse.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

long long referenceValue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        if (value < 100000000000000000LL) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

bool referenceComplete(std::string_view received) {
    long long expected = 0;
    std::size_t position = 0;
    for (;;) {
        const std::size_t lineEnd = received.find('\n', position);
        if (lineEnd == std::string_view::npos) return false;
        std::string line;
        for (char c : received.substr(position, lineEnd - position))
            if (c != '\r') line += c;
        position = lineEnd + 1;
        if (line.empty()) {
            const std::size_t following = received.size() - position;
            return expected == 0 || (expected > 0 && static_cast<unsigned long long>(expected) == following);
        }
        std::string name = line.substr(0, 15);
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name == "CONTENT-LENGTH:") expected = line.size() > 16 ? referenceValue(line.substr(16)) : 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    if (korvane::isCompleteMessage(received) != referenceComplete(received)) std::abort();
    return 0;
}
