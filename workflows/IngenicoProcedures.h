#pragma once

#include "workflows/FormsStep.h"

#include <string>

namespace korvane {

struct LoadStation;

// The RBA pads with application, configuration bundles and key check
// (iSC250 ... iCMP). `padName` is the handler's choice ("iSC250V4", "iWL250",
// "iSMP" and so on). Runs on the user-interface thread until the load ended.
void loadWithCacheSet(LoadStation& station, const std::string& padName, int variantCode);

// The Lane, Move and Link pads: the device identifier check first, the
// application only (the UPP package), no reboot of its own.
void loadGenericRba(LoadStation& station, const std::string& shortModel, int variantCode,
                    const GenericFormsInput& forms, const std::string& displayName);

}  // namespace korvane
