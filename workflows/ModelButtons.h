#pragma once

#include "payloads/EmbeddedPayload.h"

#include <optional>
#include <span>
#include <string_view>

namespace korvane {

// How a model button's press is carried out.
enum class LoadProcedure {
    ingenicoWithCacheSet,  // the RBA pads with application, configuration and key check
    genericRba,            // the Lane, Move and Link pads
    equinox,
    verifoneVx805,
    verifoneP400,
};

// One model button: its control id and caption in the main window and what
// its press does.
struct ModelButton {
    int controlId;
    std::string_view caption;  // as the window shows it, trailing space included
    LoadProcedure procedure;
    std::string_view padName;    // passed on to the procedure (Ingenico) or the package (the others)
    std::string_view v4PadName;  // empty: the model has no V4 question
    int variantCode;
    int v4VariantCode;
    std::string_view deviceIdentifier;  // what the forms step stores as parameter 14.5
    std::optional<FormsModel> formsModel;  // Ingenico only
    std::string_view displayName;       // the Lane, Move and Link pads' name in messages
};

// Every model button, in the order of the main window's template.
std::span<const ModelButton> modelButtons();

const ModelButton* findModelButton(int controlId);
// The caption as the window shows it; spaces around `caption` do not count.
const ModelButton* findModelButtonByCaption(std::string_view caption);

// The iWL258 button loads an iWL250 as one when the pad reports exactly that.
inline constexpr std::string_view kIwl250PadName = "iWL250";

// The forms step chosen by a load's variant code; none for the codes without one.
std::optional<FormsModel> formsModelOf(int variantCode);

}  // namespace korvane
