#pragma once

#include "platform/InstallationConfig.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korvane {

class Operator;

// The connection type radio buttons.
enum class ConnectionType { none, serial, usb };

// What a press reads from the main window's controls.
struct StationControls {
    std::string comPortText;
    ConnectionType connection = ConnectionType::none;
    bool disableBinWhitelist = false;
};

// Everything a model button's press works with besides the pad and the
// server: the operator, the installation, the controls, and the two values
// the main window keeps between loads. The desktop builds one per press over
// its window; `korvane-load` builds one from its options.
struct LoadStation {
    Operator& op;
    const InstallationConfig& installation;
    StationControls controls;
    uint32_t& cacheStamp;
    int& lastLoadedVariant;

    // The outcome the load server last took from this press, if any: what
    // `korvane-load` prints as its last line.
    std::optional<std::string> reportedOutcome;
};

}  // namespace korvane
