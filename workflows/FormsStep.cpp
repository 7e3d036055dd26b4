#include "workflows/FormsStep.h"

#include "pad/RbaPad.h"
#include "payloads/PayloadCatalogue.h"
#include "platform/MessagePump.h"
#include "platform/TimingTable.h"
#include "server/OutcomeCodes.h"
#include "workflows/IngenicoCaches.h"
#include "job/LoadJob.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/Operator.h"
#include "workflows/OutcomeReport.h"
#include "job/VariantCode.h"

#include <functional>
#include <vector>

namespace korvane {
namespace {

constexpr uint32_t kGenericItemPauseMs = 200;

// One thing the step writes, and how its failure is told.
struct FormsItem {
    std::function<bool(std::string& error)> write;
    const char* failureLeadIn;  // first message, before the command's own text
    bool resetOnFailure;        // parameter and form failures leave the pad to idle first
    std::string outcome;
    const char* reportFailedLeadIn;  // when the report of that outcome fails too
};

constexpr const char* kLoadFileFailed = "Error Returned trying to Load File:\r\n";

class FormsStepRun {
public:
    FormsStepRun(LoadStation& station, RbaPad& pad, std::string suffix, bool generic)
        : station_(station), pad_(pad), job_(*pad.owner()), suffix_(std::move(suffix)), generic_(generic) {}

    void parameter(const char* group, const char* index, std::string value, const char* leadIn,
                   const char* outcome) {
        add({[this, group, index, value](std::string& error) { return pad_.setParameter(group, index, value, error); },
             leadIn, true, outcome + suffix_, kSendLoadIdentifierFailed});
    }

    void file(const char* name, std::span<const uint8_t> content, const char* leadIn, bool reset, std::string outcome,
              const char* reportFailedLeadIn) {
        add({[this, name, content](std::string& error) { return pad_.loadFile(content, name, error); }, leadIn, reset,
             std::move(outcome), reportFailedLeadIn});
    }

    void add(FormsItem item) { items_.push_back(std::move(item)); }

    // What every step writes first: the on-demand parameter, the close form
    // name and, for the models that take signatures, the signature data.
    void openingParameters(bool signatureData) {
        parameter("7", "28", "1", "Error Returned trying to set On Demand Param:\r\n", kOutcomeFailLoadVar728);
        parameter("30", "1", "OFFLINE.K3Z", "Error Returned trying to set Close Form Name\r\n",
                  kOutcomeFailLoadVarOffline);
        if (signatureData)
            add({[this](std::string& error) { return pad_.setParameterList(error); },
                 "Error Returned trying to set Signature Data\r\n", true, kOutcomeFailLoadSigData + suffix_,
                 kSendLoadIdentifierFailed});
    }

    const std::string& suffix() const { return suffix_; }

    void run(const std::string& deviceIdentifier) {
        pad_.sendReset();
        job_.postStatus("Loading Korvane forms...");
        for (const FormsItem& item : items_) {
            std::string error;
            if (!item.write(error)) {
                fail(item, error);
                return;
            }
            if (generic_) sleepPumping(procedureWait(kGenericItemPauseMs));
        }
        std::string error;
        if (!pad_.setParameter("14", "5", deviceIdentifier, error)) {
            fail({nullptr, "Failed to load Korvane info\r\n", true, kOutcomeFailLoadKorvaneInfo + suffix_,
                  kSendLoadIdentifierFailed},
                 error);
            return;
        }
        job_.loadReport.outcome = kOutcomeLoaded;
        if (pad_.ReportLoadStatus()) {
            station_.reportedOutcome = job_.loadReport.outcome;
            station_.op.showMessage(job_.loadReport.outcome);
        } else {
            station_.op.showMessage("Could not complete load:\r\n" + pad_.LastErrorText());
        }
        pad_.setParameter("7", "45", "1", error);
        pad_.setParameter("7", "46", "0400", error);
        pad_.sendReset();
        pad_.reboot(error, false);
    }

private:
    void fail(const FormsItem& item, const std::string& error) {
        if (item.resetOnFailure) pad_.sendReset();
        station_.op.showMessage(item.failureLeadIn + error);
        job_.loadReport.outcome = item.outcome;
        reportOutcome(station_, pad_, item.reportFailedLeadIn);
    }

    LoadStation& station_;
    RbaPad& pad_;
    LoadJob& job_;
    std::string suffix_;
    bool generic_;
    std::vector<FormsItem> items_;
};

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::span<const uint8_t> payloadBytes(std::string_view padFileName, FormsModel model) {
    const EmbeddedPayload* payload = findPayload(padFileName, model);
    return payload == nullptr ? std::span<const uint8_t>() : std::span<const uint8_t>(payload->bytes);
}

// What each cache-set model's step writes besides the items every step has.
struct ModelItems {
    bool signatureData;
    bool offlineForm;
    bool cardPromptForm;
    bool securityFile;  // and the custom prompts
    const char* surveyImage;  // null: no survey items
    const char* deviceIdentifier;
};

ModelItems itemsOf(FormsModel model) {
    switch (model) {
        case FormsModel::iSC250: return {true, true, true, true, "header-07.png", "KORVANEISC250"};
        case FormsModel::iSC480: return {true, true, false, true, "1600w_top.PNG", "KORVANEISC480"};
        case FormsModel::iPP320: return {false, true, false, true, nullptr, "KORVANEIPP320"};
        case FormsModel::iPP350: return {false, true, false, true, nullptr, "KORVANEIPP350"};
        case FormsModel::iWL: return {false, false, false, true, nullptr, "KORVANEIWL250"};
        case FormsModel::iUC285: return {false, true, false, false, nullptr, "KORVANEIUC285"};
        case FormsModel::iSMP4: return {false, false, false, true, nullptr, "KORVANEISMP4"};
        case FormsModel::iCMP: return {false, false, false, true, nullptr, "KORVANEICM122"};
        default: return {};
    }
}

std::string_view contactlessText() {
    const std::vector<uint8_t>& bytes = contactlessDocument().bytes;
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

void runFormsStep(LoadStation& station, RbaPad& pad, const std::string& suffix, const std::string& extra) {
    LoadJob* job = pad.owner();
    if (job == nullptr) return;
    const std::optional<FormsModel> model = formsModelOf(job->deviceInfo.variantCode);
    if (!model || itemsOf(*model).deviceIdentifier == nullptr) return;
    const ModelItems items = itemsOf(*model);
    const SecurityFileCache& securityFiles = ingenicoCaches().securityFiles;

    FormsStepRun run(station, pad, suffix + extra, false);
    run.openingParameters(items.signatureData);
    if (items.offlineForm)
        run.file("OFFLINE.K3Z", payloadBytes("OFFLINE.K3Z", *model), "Error Returned trying to Load File\r\n", true,
                 kOutcomeFailLoadFileOffline + run.suffix(), kSendLoadIdentifierFailed);
    if (items.cardPromptForm)
        run.file("CCOD.K3Z", payloadBytes("CCOD.K3Z", *model), "Error Returned trying to Load File.\r\n", true,
                 kOutcomeFailLoadFileCcod + run.suffix(), kSendLoadIdentifierFailed);
    if (items.securityFile) {
        const ByteArray& secbin = job->disableBinWhitelist ? securityFiles.secbinClear : securityFiles.secbin21;
        run.file("Secbin.pgz", secbin, "Failed.\r\n", false, kOutcomeFail,
                 "Error Returned trying to Load (SecBin) File:\r\n");
        run.file("CUSTPROMPT.PGZ", customPromptPackage().bytes, "Failed.\r\n", false, kOutcomeFail, kLoadFileFailed);
    }
    run.add({[&pad](std::string& error) {
                 return pad.setContactlessDefaults(error, false, contactlessText());
             },
             "Failed.\r\n", false, kOutcomeFail, "Error Returned trying to Load EMVCless.XML:\r\n"});
    if (items.surveyImage != nullptr) {
        run.file("SURQUES.K3Z", payloadBytes("SURQUES.K3Z", *model), "Failed.\r\n", false, kOutcomeFail,
                 "Error Returned trying to Load Scorewell File:\r\n");
        run.file(items.surveyImage, payloadBytes(items.surveyImage, *model), "Failed.\r\n", false, kOutcomeFail,
                 "Error Returned trying to Load Scorewell Image:\r\n");
    }
    run.run(items.deviceIdentifier);
}

void runGenericFormsStep(LoadStation& station, RbaPad& pad, const GenericFormsInput& input) {
    if (pad.owner() == nullptr) return;
    FormsStepRun run(station, pad, std::string(), true);
    run.openingParameters(true);
    run.file("OFFLINE.K3Z", bytesOf(input.welcomeForm), "Error Returned trying to Load File\r\n", true,
             kOutcomeFailLoadFileOffline, kSendLoadIdentifierFailed);
    if (!input.promptForm.empty())
        run.file("AMTVEX.K3Z", bytesOf(input.promptForm), "Error Returned trying to Load AMTVEX File\r\n", true,
                 "FAIL-LOAD FILE AMTVEX.K3Z", "Error Returned trying to Send AMTVEX Load Identifier:\r\n");
    run.file("CB5BTSECBIN.PGZ", ingenicoCaches().securityFiles.secbinTetra, "Failed.\r\n", false, kOutcomeFail,
             "Error Returned trying to Load (SecBin) File:\r\n");
    run.file("CB5BTCUSTPROMPT.PGZ", signedPromptPackage().bytes, "Failed.\r\n", false, kOutcomeFail,
             kLoadFileFailed);
    run.add({[&pad](std::string& error) { return pad.setContactlessDefaults(error, true, contactlessText()); },
             "Failed.\r\n", false, kOutcomeFail, "Error Returned trying to Load EMVCless.XML:\r\n"});
    if (!input.bundle.empty())
        run.file("MULTCHO.TGZ", input.bundle, "Failed.\r\n", false, kOutcomeFail, kLoadFileFailed);
    run.run(input.deviceIdentifier);
}

}  // namespace korvane
