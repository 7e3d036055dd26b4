// Parses arbitrary bytes as the RBA pad's replies: identification, parameter
// value, key check, and the field splitting under them.
#include "pad/ControlChars.h"
#include "pad/RbaFields.h"
#include "pad/RbaReplies.h"
#include "job/LoadJob.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvane;
    const std::string_view reply(reinterpret_cast<const char*>(data), size);

    // Pieces and their delimiters put back together give the text again,
    // less a trailing delimiter run's missing last piece.
    const std::string delimiters = {kFs, kEtx};
    const auto fields = splitFields(reply, delimiters);
    size_t total = 0;
    for (const std::string& field : fields) {
        if (field.find_first_of(delimiters) != std::string::npos) std::abort();
        total += field.size();
    }
    size_t delimiterCount = 0;
    for (const char c : reply) delimiterCount += delimiters.find(c) != std::string::npos;
    if (total + delimiterCount != reply.size()) std::abort();
    if (fields.size() < delimiterCount || fields.size() > delimiterCount + 1) std::abort();

    DeviceInfo device;
    (void)isIdentificationReply(reply);
    takeIdentificationFields(reply, device);
    for (const std::string* field :
         {&device.padModel, &device.padAppVersion, &device.appVersion, &device.configVersion, &device.oemId})
        if (field->find_first_of(delimiters) != std::string::npos) std::abort();

    if (parameterValueOf(reply).find_first_of(std::string{kGs, kEtx}) != std::string::npos) std::abort();

    const std::string verdict = judgeKeyReply(reply);
    if (!verdict.empty() && verdict != kNoPinKeyText && verdict != kNoPanKeyText && verdict != kWrongPanKeyText)
        std::abort();
    return 0;
}
