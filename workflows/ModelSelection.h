#pragma once

#include <optional>
#include <string>

namespace korvane {

struct LoadStation;
struct ModelButton;

// What a press of a model button does, from the progress window to the
// outcome. Runs on the user-interface thread and returns when the load ended.
void pressModelButton(LoadStation& station, const ModelButton& button);

// Whether the pad is a PCI V4 device: below application version 21 the
// operator says; from 21 on the pad is asked through parameter 13.23 and the
// model suffix "-31", with the operator as the fall-back. Nothing, with
// `errorText` set, when no answer could be had.
std::optional<bool> askWhetherV4(LoadStation& station, const std::string& padAppVersion, std::string& errorText);

}  // namespace korvane
