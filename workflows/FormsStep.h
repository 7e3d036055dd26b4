#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

class RbaPad;
struct LoadStation;

// What the generic RBA load hands its forms step: the model's own files and
// the device identifier the pad is to keep.
struct GenericFormsInput {
    std::string_view welcomeForm;     // written as "OFFLINE.K3Z"
    std::string_view promptForm;      // written as "AMTVEX.K3Z" when not empty
    std::span<const uint8_t> bundle;  // written as "MULTCHO.TGZ" when not empty
    std::string deviceIdentifier;
};

// The last part of an Ingenico load on the user-interface thread, with the
// procedure's pad and open port: parameters, forms, security file, prompts,
// contactless defaults and survey items as the job's model needs them, then
// the device identifier, the "LOADED" report and a reboot. The first item that
// fails is shown, reported with its outcome (code, `suffix`, `extra`) and ends
// the step. A variant code without a step of its own does nothing.
void runFormsStep(LoadStation& station, RbaPad& pad, const std::string& suffix, const std::string& extra);

// The Lane, Move and Link pads' step: the same sequence with their files,
// 200 ms between items, and outcome codes without a suffix.
void runGenericFormsStep(LoadStation& station, RbaPad& pad, const GenericFormsInput& input);

}  // namespace korvane
