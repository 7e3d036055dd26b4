#pragma once

#include "job/ByteArray.h"
#include "job/ProgressWindowHandle.h"

#include <string>

namespace korvane {

class SerialPort;

// What the pad reported about itself (and, for `padModel`, what the handler
// later replaces it by: the name under which the load server knows the package).
struct DeviceInfo {
    virtual ~DeviceInfo() = default;

    std::string padModel;
    int variantCode = 0;  // a VariantCode
    std::string appVersion;     // Ingenico identification field 10
    std::string configVersion;  // Ingenico identification field 11
    std::string spareText1;     // kept for the record's layout; nothing fills them
    std::string spareText2;
    std::string oemId;  // Ingenico identification field 14
    std::string spareText3;
    std::string previousAppVersion;  // padAppVersion as it was before the load
    std::string padAppVersion;       // Ingenico identification field 9
};

// What is reported to the load server about the load.
struct LoadReport {
    virtual ~LoadReport() = default;

    std::string loadIdentifier;  // from RequestLoad
    std::string outcome;         // "LOADED", "LOAD NOT REQUIRED" or a "FAIL-" code
    std::string resultText;      // the pad step's result, shown when errorText is empty
    std::string reportedAppVersion;
    std::string appInfoFileName;
    std::string reportedConfigVersion;
    std::string configInfoFileName;
};

// One load, from a button press to its outcome. The handler owns it and
// fills it; the worker, the pad object and the server client borrow it. The
// two threads never use it at once: the handler leaves it alone while the
// worker runs. The referenced port, images and window belong to the handler.
struct LoadJob {
    virtual ~LoadJob() = default;

    bool succeeded = false;  // set by the worker as its last step
    bool fpeNeededPci2 = false;
    bool fpeNeededPci3 = false;
    bool configMissingPci2 = false;
    bool configMissingPci3 = false;
    bool needApplication = false;
    bool needSerialConfig = false;
    bool needUsbConfig = false;
    bool needRemoteRetrieval = false;
    bool skipConfigLoad = false;
    bool configOnly = false;
    bool uppVariant = false;
    ByteArray* downloadTarget = nullptr;  // where the blocks of the current download go
    std::string fetchedVersion;
    std::string fetchedInfoFileName;
    bool usbConnection = false;
    bool disableBinWhitelist = false;
    std::string fetchedSize;  // decimal, as the server announced it
    int comPort = 0;
    ProgressWindowHandle progressWindow;  // null: status texts are dropped
    SerialPort* serialPort = nullptr;
    std::string errorText;
    DeviceInfo deviceInfo;
    LoadReport loadReport;
    const ByteArray* applicationImage = nullptr;
    const ByteArray* configImage = nullptr;

    // Post-status: the text goes to this load's progress window through the
    // status mailbox; false, and dropped, when the window is missing or gone.
    bool postStatus(const std::string& text) const;
};

}  // namespace korvane
