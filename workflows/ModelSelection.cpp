#include "workflows/ModelSelection.h"

#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "payloads/PayloadCatalogue.h"
#include "job/DecimalValue.h"
#include "workflows/EquinoxProcedure.h"
#include "workflows/VerifoneProcedures.h"
#include "workflows/IngenicoProcedures.h"
#include "job/LoadJob.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/Operator.h"
#include "workflows/PortCheck.h"
#include "job/StatusMailbox.h"
#include "job/VariantCode.h"

#include <memory>

namespace korvane {
namespace {

constexpr int kFirstV4Version = 21;

// Identification on the port in the field, then "00.0000"; the port is closed after.
bool identifyPad(LoadStation& station, DeviceInfo& info) {
    SerialPort port;
    std::string error;
    if (!checkAndOpenPort(port, decimalValue(station.controls.comPortText), kPadBaudRate, error) ||
        !RbaPad::identify(port, info, error)) {
        station.op.showMessage(error);
        return false;
    }
    RbaPad::sendReset(port);
    port.close();
    return true;
}

std::string asText(std::string_view text) { return std::string(text); }

std::span<const uint8_t> bytesOrNone(const EmbeddedPayload* payload) {
    return payload == nullptr ? std::span<const uint8_t>() : std::span<const uint8_t>(payload->bytes);
}

std::string_view textOrNone(const EmbeddedPayload* payload) {
    if (payload == nullptr) return {};
    return {reinterpret_cast<const char*>(payload->bytes.data()), payload->bytes.size()};
}

}  // namespace

std::optional<bool> askWhetherV4(LoadStation& station, const std::string& padAppVersion, std::string& errorText) {
    auto askOperator = [&]() -> std::optional<bool> {
        std::optional<bool> answer = station.op.runPciVersionPrompt();
        if (!answer) errorText = "Canceled";
        return answer;
    };
    if (decimalValue(padAppVersion.substr(0, 2)) < kFirstV4Version) return askOperator();

    SerialPort port;
    if (!checkAndOpenPort(port, decimalValue(station.controls.comPortText), kPadBaudRate, errorText)) {
        station.op.showMessage(errorText);
        return std::nullopt;
    }
    LoadJob job;
    job.serialPort = &port;
    RbaPad pad(station.installation, &job);
    std::optional<bool> answer;
    if (pad.setParameter("13", "23", "1", errorText) && pad.identify(errorText)) {
        const std::string& model = job.deviceInfo.padModel;
        const size_t dash = model.find('-');
        answer = dash != std::string::npos && model.compare(dash + 1, 2, "31") == 0;
        if (*answer) pad.setParameter("13", "23", "0", errorText);
    }
    if (!errorText.empty()) {
        errorText.clear();
        answer = askOperator();
    }
    pad.sendReset();
    port.close();
    return answer;
}

void pressModelButton(LoadStation& station, const ModelButton& button) {
    switch (button.procedure) {
        case LoadProcedure::equinox: loadEquinox(station); return;
        case LoadProcedure::verifoneVx805:
            // The package tells the two Vx805 buttons apart.
            loadVx805(station, button.padName == "VX805_ELV_XPI" ? Vx805Button::loadNewXpi
                                                                 : Vx805Button::loadForEthernet);
            return;
        case LoadProcedure::verifoneP400: loadP400(station); return;
        case LoadProcedure::ingenicoWithCacheSet:
        case LoadProcedure::genericRba: break;
    }
    const std::unique_ptr<ProgressView> progress = station.op.openProgressWindow();
    progress->show();
    postStatus(progress->handle(), "Communicating with pad... ");

    DeviceInfo info;
    if (!identifyPad(station, info)) return;

    std::string padName = asText(button.padName);
    int variantCode = button.variantCode;
    if (button.variantCode == kVariantIwl258 && info.padModel == kIwl250PadName) {
        padName = asText(kIwl250PadName);
        variantCode = kVariantIwl250;
    }
    if (!button.v4PadName.empty()) {
        std::string error;
        const std::optional<bool> v4 = askWhetherV4(station, info.padAppVersion, error);
        if (!v4) {
            station.op.showMessage("Could not determine PCI version.");
            return;
        }
        if (*v4) {
            padName = asText(button.v4PadName);
            variantCode = button.v4VariantCode;
        }
    }

    // The procedure's own window carries the load from here; this one only
    // keeps the main window disabled until the press ends.
    progress->hide();
    if (button.procedure == LoadProcedure::genericRba) {
        const GenericRbaForms files = genericRbaForms(*button.formsModel);
        const GenericFormsInput forms{textOrNone(files.welcomeForm), textOrNone(files.promptForm),
                                      bytesOrNone(files.bundle), asText(button.deviceIdentifier)};
        loadGenericRba(station, padName, variantCode, forms, asText(button.displayName));
    } else {
        loadWithCacheSet(station, padName, variantCode);
    }
}

}  // namespace korvane
