#pragma once

#include "payloads/EmbeddedPayload.h"

#include <span>
#include <string_view>

namespace korvane {

// Every embedded pad file. Decoded on the first call (thread-safe), then fixed
// for the life of the process.
std::span<const EmbeddedPayload> payloadCatalogue();

// The file `model`'s forms step sends under `padFileName` (compared exactly,
// as the pad file systems do), or nullptr. Several models share a pad file
// name with different contents ("OFFLINE.K3Z", "MULTCHO.TGZ"), hence the model.
const EmbeddedPayload* findPayload(std::string_view padFileName, FormsModel model);

// The files the generic RBA load hands to the Lane, Move and Link forms step.
// Null members for any other model.
struct GenericRbaForms {
    const EmbeddedPayload* welcomeForm = nullptr;  // "OFFLINE.K3Z"
    const EmbeddedPayload* promptForm = nullptr;   // "AMTVEX.K3Z"
    const EmbeddedPayload* bundle = nullptr;       // "MULTCHO.TGZ"
};
GenericRbaForms genericRbaForms(FormsModel model);

const EmbeddedPayload& customPromptPackage();  // "CUSTPROMPT.PGZ", the Ingenico pads
const EmbeddedPayload& signedPromptPackage();  // "CB5BTCUSTPROMPT.PGZ", the Lane, Move and Link pads
const EmbeddedPayload& contactlessDocument();  // "EMVCLESS.XML", every model

}  // namespace korvane
