#include "payloads/PayloadCatalogue.h"

#include "payloads/Base64.h"
#include "payloads/generated/PayloadTexts.h"

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane {

namespace {

using M = FormsModel;

constexpr uint32_t models(std::initializer_list<FormsModel> list) {
    uint32_t mask = 0;
    for (FormsModel model : list) mask |= uint32_t(1) << static_cast<unsigned>(model);
    return mask;
}

constexpr uint32_t kEveryModel = (uint32_t(1) << (static_cast<unsigned>(M::link2500) + 1)) - 1;

struct Entry {
    const char* description;
    const char* padFileName;
    PayloadKind kind;
    const std::string_view* text;
    uint32_t modelMask;
};

using namespace payloadtext;
using K = PayloadKind;

const Entry kEntries[] = {
    {"custom prompt package", "CUSTPROMPT.PGZ", K::gzipBundle, &kCustomPromptPackage,
     models({M::iSC250, M::iWL, M::iPP320, M::iPP350, M::iSC480, M::iSMP4, M::iCMP})},
    {"signed prompt package", "CB5BTCUSTPROMPT.PGZ", K::gzipBundle, &kSignedPromptPackage,
     models({M::lane3000, M::lane5000, M::lane7000, M::lane8000, M::move5000, M::link2500})},
    {"rating header image, small", "header-07.png", K::pngImage, &kRatingHeaderSmall, models({M::iSC250})},
    {"rating header image, wide", "1600w_top.PNG", K::pngImage, &kRatingHeaderWide, models({M::iSC480})},
    {"Lane/3000 bundle", "MULTCHO.TGZ", K::gzipBundle, &kLane3000Bundle, models({M::lane3000})},
    {"Link/2500 bundle", "MULTCHO.TGZ", K::gzipBundle, &kLink2500Bundle, models({M::link2500})},
    {"Lane/5000 bundle", "MULTCHO.TGZ", K::gzipBundle, &kLane5000Bundle, models({M::lane5000})},
    {"Lane/7000 bundle", "MULTCHO.TGZ", K::gzipBundle, &kLane7000Bundle, models({M::lane7000})},
    {"Lane/8000 bundle", "MULTCHO.TGZ", K::gzipBundle, &kLane8000Bundle, models({M::lane8000})},
    {"Move/5000 bundle", "MULTCHO.TGZ", K::gzipBundle, &kMove5000Bundle, models({M::move5000})},

    {"Lane/3000 welcome form", "OFFLINE.K3Z", K::form, &kLane3000WelcomeForm, models({M::lane3000})},
    {"Lane/5000 welcome form", "OFFLINE.K3Z", K::form, &kLane5000WelcomeForm, models({M::lane5000})},
    {"Lane/7000 welcome form", "OFFLINE.K3Z", K::form, &kLane7000WelcomeForm, models({M::lane7000})},
    {"Lane/8000 welcome form", "OFFLINE.K3Z", K::form, &kLane8000WelcomeForm, models({M::lane8000})},
    {"Move/5000 welcome form", "OFFLINE.K3Z", K::form, &kMove5000WelcomeForm, models({M::move5000})},
    {"Link/2500 welcome form", "OFFLINE.K3Z", K::form, &kLink2500WelcomeForm, models({M::link2500})},
    {"Lane/3000 prompt form", "AMTVEX.K3Z", K::form, &kLane3000PromptForm, models({M::lane3000})},
    {"Lane/5000 prompt form", "AMTVEX.K3Z", K::form, &kLane5000PromptForm, models({M::lane5000})},
    {"Lane/7000 prompt form", "AMTVEX.K3Z", K::form, &kLane7000PromptForm, models({M::lane7000})},
    {"Lane/8000 prompt form", "AMTVEX.K3Z", K::form, &kLane8000PromptForm, models({M::lane8000})},
    {"Move/5000 prompt form", "AMTVEX.K3Z", K::form, &kMove5000PromptForm, models({M::move5000})},
    {"Link/2500 prompt form", "AMTVEX.K3Z", K::form, &kLink2500PromptForm, models({M::link2500})},
    {"iSC250 welcome", "OFFLINE.K3Z", K::form, &kIsc250WelcomeForm, models({M::iSC250})},
    {"iSC250 card prompt", "CCOD.K3Z", K::form, &kIsc250CardPromptForm, models({M::iSC250})},
    {"iSC250 rating survey", "SURQUES.K3Z", K::form, &kIsc250SurveyForm, models({M::iSC250})},
    {"iSC480 welcome", "OFFLINE.K3Z", K::form, &kIsc480WelcomeForm, models({M::iSC480})},
    {"iSC480 rating survey", "SURQUES.K3Z", K::form, &kIsc480SurveyForm, models({M::iSC480})},
    {"small welcome", "OFFLINE.K3Z", K::form, &kIuc285WelcomeForm, models({M::iUC285})},
    {"small welcome, second form", "OFFLINE.K3Z", K::form, &kIpp320WelcomeForm, models({M::iPP320})},
    {"medium welcome", "OFFLINE.K3Z", K::form, &kIpp350WelcomeForm, models({M::iPP350})},

    {"contactless parameters", "EMVCLESS.XML", K::contactlessDocument, &kContactlessDocument, kEveryModel},
};

std::vector<EmbeddedPayload> buildCatalogue() {
    std::vector<EmbeddedPayload> catalogue;
    catalogue.reserve(std::size(kEntries));
    for (const Entry& entry : kEntries) {
        const bool base64 = entry.kind == K::gzipBundle || entry.kind == K::pngImage;
        const std::string_view text = *entry.text;
        std::vector<uint8_t> bytes = base64 ? decodeBase64(text) : std::vector<uint8_t>(text.begin(), text.end());
        catalogue.push_back({entry.description, entry.padFileName, entry.kind, base64, text, std::move(bytes),
                             entry.modelMask});
    }
    return catalogue;
}

const EmbeddedPayload& named(std::string_view padFileName, FormsModel model) {
    const EmbeddedPayload* payload = findPayload(padFileName, model);
    // The catalogue is a constant table, so a miss here is a fault of the program itself.
    if (payload == nullptr) throw std::logic_error("no embedded " + std::string(padFileName));
    return *payload;
}

}  // namespace

std::span<const EmbeddedPayload> payloadCatalogue() {
    static const std::vector<EmbeddedPayload> catalogue = buildCatalogue();
    return catalogue;
}

const EmbeddedPayload* findPayload(std::string_view padFileName, FormsModel model) {
    for (const EmbeddedPayload& payload : payloadCatalogue())
        if (payload.padFileName == padFileName && payload.sentBy(model)) return &payload;
    return nullptr;
}

GenericRbaForms genericRbaForms(FormsModel model) {
    return {findPayload("OFFLINE.K3Z", model), findPayload("AMTVEX.K3Z", model), findPayload("MULTCHO.TGZ", model)};
}

const EmbeddedPayload& customPromptPackage() { return named("CUSTPROMPT.PGZ", M::iSC250); }
const EmbeddedPayload& signedPromptPackage() { return named("CB5BTCUSTPROMPT.PGZ", M::lane3000); }
const EmbeddedPayload& contactlessDocument() { return named("EMVCLESS.XML", M::iSC250); }

}  // namespace korvane
