// Reads arbitrary bytes as the Equinox pad's replies: the "F" reply's fields
// and configuration version, the tagged fields, the model letter, the file
// request and the PIN key rule.
#include "pad/ControlChars.h"
#include "pad/EquinoxMessages.h"
#include "pad/TaggedField.h"
#include "job/LoadJob.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvane;
    const std::string_view reply(reinterpret_cast<const char*>(data), size);

    DeviceInfo device;
    takeEquinoxIdentity(reply, device);
    if (device.appVersion.size() > 4 || device.oemId.size() > 12) std::abort();
    if (device.configVersion != equinoxConfigVersion(reply)) std::abort();

    for (const char* tag : {"MV", "VV"}) {
        const std::string value = findTaggedField(reply, tag);
        if (value.find_first_of(std::string("\x1c\x03", 2)) != std::string::npos) std::abort();
        if (!value.empty() && reply.find(value) == std::string_view::npos) std::abort();
    }
    if (equinoxModelLetter(reply).size() > 1) std::abort();
    (void)isAcceptablePinKsn(reply);

    if (const auto name = requestedFileName(reply)) {
        if (name->find(kEtx) != std::string::npos || reply.substr(2, name->size()) != *name) std::abort();
    }

    return 0;
}
