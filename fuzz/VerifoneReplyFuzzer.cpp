// Reads arbitrary bytes as the Verifone pads' identity replies: the
// fixed-position "S95" reply and the tagged one.
#include "pad/VerifoneReplies.h"
#include "job/LoadJob.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvane;
    const std::string_view reply(reinterpret_cast<const char*>(data), size);

    DeviceInfo fixed;
    if (takeVerifoneSerialReply(reply, fixed)) {
        if (reply.substr(1, 2) != "00") std::abort();
        if (fixed.padModel.size() > 5 || fixed.padAppVersion.size() > 9 || fixed.oemId.size() > 16) std::abort();
        if (!fixed.padAppVersion.empty() && fixed.padAppVersion.front() == '0') std::abort();
    } else if (!fixed.padModel.empty() || !fixed.oemId.empty()) {
        std::abort();  // a refused reply leaves the record alone
    }

    DeviceInfo tagged;
    if (takeVerifoneTagsReply(reply, tagged)) {
        if (reply.substr(4, 2) != "00") std::abort();
        if (tagged.appVersion != tagged.padAppVersion) std::abort();
        for (const std::string* value : {&tagged.padModel, &tagged.padAppVersion, &tagged.oemId}) {
            if (value->size() > reply.size()) std::abort();
            if (!value->empty() && reply.find(*value) == std::string_view::npos) std::abort();
        }
        if (tagged.padModel.find('\x1c') != std::string::npos || tagged.oemId.find('\x03') != std::string::npos)
            std::abort();
    } else if (!tagged.padModel.empty() || !tagged.oemId.empty()) {
        std::abort();
    }
    return 0;
}
