// Parses arbitrary bytes as a load server message, headers and items.
#include "server/LoadServerResponse.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    korvane::LoadServerResponse response;
    const bool parsed = response.parseHeaders(message);
    response.parseItems();

    // The body is the message's tail, byte for byte, and needs a header line before it.
    if (response.rawBody.size() > message.size() ||
        message.substr(message.size() - response.rawBody.size()) != response.rawBody)
        std::abort();
    if (!parsed && !response.blockNumber.empty()) std::abort();
    // A header value never holds a line end.
    if (response.blockNumber.find_first_of("\r\n") != std::string::npos) std::abort();
    // Item values never hold the separator.
    for (const std::string* value : {&response.status, &response.errorText, &response.challengeAnswer,
                                     &response.fileLength, &response.fileDigest, &response.version})
        if (value->find(korvane::kFieldSeparator) != std::string::npos) std::abort();
    return 0;
}
