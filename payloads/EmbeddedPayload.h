#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvane {

// What a pad file is; the loader never opens one, it only sends it.
enum class PayloadKind : uint8_t {
    gzipBundle,           // a gzip stream: prompt packages and multiple-choice bundles
    pngImage,             // a PNG image
    form,                 // a form definition for the pad's form engine
    contactlessDocument,  // the contactless EMV parameters
};

// The model whose forms step sends a file. The iWL250 and iWL258 share one step.
enum class FormsModel : uint8_t {
    iSC250,
    iSC480,
    iPP320,
    iPP350,
    iWL,
    iUC285,
    iSMP4,
    iCMP,
    lane3000,
    lane5000,
    lane7000,
    lane8000,
    move5000,
    link2500,
};

// One pad file carried inside the program. Bundles and images are stored as
// Base64 text, forms and the contactless document as their XML text; `bytes`
// is what the pad receives in either case (for the text ones, the text itself).
// The catalogue builds every entry once, on first use, and never changes it.
struct EmbeddedPayload {
    std::string_view description;  // "Lane/7000 bundle", for messages and tests
    std::string_view padFileName;   // the name the pad receives it under
    PayloadKind kind;
    bool base64;                    // whether `text` is Base64 or the file itself
    std::string_view text;
    std::vector<uint8_t> bytes;
    uint32_t modelMask;             // bit n: sent by the forms step of FormsModel n

    bool sentBy(FormsModel model) const { return (modelMask >> static_cast<unsigned>(model)) & 1; }
};

}  // namespace korvane
