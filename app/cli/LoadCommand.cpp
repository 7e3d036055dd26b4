#include "app/cli/LoadCommand.h"

#include "app/cli/ConsoleOperator.h"
#include "platform/InstallationConfig.h"
#include "platform/Tick.h"
#include "server/ChallengeCipher.h"
#include "server/OutcomeCodes.h"
#include "server/SecurityInterface.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/ModelSelection.h"

#include <cstdio>
#include <string>

namespace korvane {
namespace {

constexpr const char* kUsage =
    "load --model \"CAPTION\" --port N --connection serial|usb [--pci-version v3|v4] [--disable-bin-whitelist]\n"
    "                   [--new-port N] [--download-mode-ready]";
constexpr const char* kSecurityFailedText =
    "Could Not Start SSPI \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
constexpr const char* kCipherFailedText =
    "Could Not Initialize Crypto \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";

int usageError(const std::string& text) {
    std::fprintf(stderr, "korvane-load load: %s\nUsage: korvane-load %s\n", text.c_str(), kUsage);
    return kExitUsage;
}

std::string captions() {
    std::string text;
    for (const ModelButton& button : modelButtons()) text += "  \"" + std::string(button.caption) + "\"\n";
    return text;
}

int runLoad(const CommonOptions& common, const std::vector<std::string>& args) {
    ConsoleAnswers answers;
    StationControls controls;
    std::string caption;
    bool haveModel = false, havePort = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        std::string error;
        const int taken = takePromptOption(args, i, answers, error);
        if (taken < 0) return usageError(error);
        if (taken > 0) {
            i += static_cast<std::size_t>(taken) - 1;
            continue;
        }
        const bool hasValue = i + 1 < args.size();
        if (argument == "--model" || argument == "--port" || argument == "--connection") {
            if (!hasValue) return usageError(argument + " needs a value");
            const std::string& value = args[++i];
            if (argument == "--model") {
                caption = value;
                haveModel = true;
            } else if (argument == "--port") {
                // Passed on as typed: the port check says what is wrong with it.
                controls.comPortText = value;
                havePort = true;
            } else if (value == "serial") {
                controls.connection = ConnectionType::serial;
            } else if (value == "usb") {
                controls.connection = ConnectionType::usb;
            } else {
                return usageError("--connection takes serial or usb");
            }
        } else if (argument == "--disable-bin-whitelist") {
            controls.disableBinWhitelist = true;
        } else {
            return usageError("unknown argument \"" + argument + "\"");
        }
    }
    if (!haveModel) return usageError("--model \"CAPTION\" is missing; the captions are:\n" + captions());
    if (!havePort) return usageError("--port N is missing");
    const ModelButton* button = findModelButtonByCaption(caption);
    if (button == nullptr) return usageError("no model button reads \"" + caption + "\"; the captions are:\n" + captions());

    const InstallationConfigResult installation = loadInstallationConfig(locateInstallationConfig(common.configPath));
    for (const std::string& warning : installation.warnings) std::fprintf(stderr, "%s\n", warning.c_str());
    if (!installation.ok) {
        std::fprintf(stderr, "%s\n", installation.error.c_str());
        return kExitUsage;
    }

    ConsoleOperator console(answers);
    const bool servicesStarted = SecurityInterface::processWide().Initialise() &&
                                 ChallengeCipher::processWide().Initialise(installation.config.challengeSecret);
    if (!servicesStarted) {
        console.showMessage(SecurityInterface::processWide().isReady() ? kCipherFailedText : kSecurityFailedText);
        std::printf("outcome: none\n");
        return kExitFailure;
    }

    uint32_t cacheStamp = tickCount();
    int lastLoadedVariant = 0;
    LoadStation station{console, installation.config, controls, cacheStamp, lastLoadedVariant, std::nullopt};
    pressModelButton(station, *button);

    const std::optional<std::string>& outcome = station.reportedOutcome;
    std::printf("outcome: %s\n", outcome ? outcome->c_str() : "none");
    std::fflush(stdout);
    const bool loaded = outcome && (*outcome == kOutcomeLoaded || *outcome == kOutcomeLoadNotRequired);
    return loaded ? kExitSuccess : kExitFailure;
}

}  // namespace

Subcommand loadSubcommand() {
    return {"load", kUsage, "loads a pad as pressing its model button does", &runLoad};
}

}  // namespace korvane
