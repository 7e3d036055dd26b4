#include "workflows/ModelButtons.h"

#include "job/VariantCode.h"

#include <algorithm>
#include <string>

namespace korvane {
namespace {

using P = LoadProcedure;
using F = FormsModel;

constexpr ModelButton kButtons[] = {
    {1001, "Ingenico iSC250 ", P::ingenicoWithCacheSet, "iSC250", "iSC250V4", kVariantIsc250, kVariantIsc250V4,
     "KORVANEISC250", F::iSC250, ""},
    {1013, "Ingenico iSC480", P::ingenicoWithCacheSet, "iSC480", "iSC480V4", kVariantIsc480, kVariantIsc480V4,
     "KORVANEISC480", F::iSC480, ""},
    {1004, "Ingenico iWL258", P::ingenicoWithCacheSet, "iWL258", "", kVariantIwl258, kVariantIwl258,
     "KORVANEIWL250", F::iWL, ""},
    {1005, "Ingenico iPP320", P::ingenicoWithCacheSet, "iPP320", "iPP320V4", kVariantIpp320, kVariantIpp320V4,
     "KORVANEIPP320", F::iPP320, ""},
    {1006, "Ingenico iPP350", P::ingenicoWithCacheSet, "iPP350", "iPP350V4", kVariantIpp350, kVariantIpp350V4,
     "KORVANEIPP350", F::iPP350, ""},
    {1014, "Ingenico iUC285", P::ingenicoWithCacheSet, "iUC285", "", kVariantIuc285, kVariantIuc285,
     "KORVANEIUC285", F::iUC285, ""},
    {1008, "Ingenico iSMP4", P::ingenicoWithCacheSet, "iSMP", "", kVariantIsmp4, kVariantIsmp4, "KORVANEISMP4",
     F::iSMP4, ""},
    {1010, "Ingenico iCMP", P::ingenicoWithCacheSet, "iCM122", "", kVariantIcmp, kVariantIcmp, "KORVANEICM122",
     F::iCMP, ""},
    {1015, "Ingenico Lane/3000", P::genericRba, "L3000", "", kVariantLane3000, kVariantLane3000, "KORVANEL3000",
     F::lane3000, "Lane/3000"},
    {1017, "Ingenico Lane/5000", P::genericRba, "L5000", "", kVariantLane5000, kVariantLane5000, "KORVANEL5000",
     F::lane5000, "Lane/5000"},
    {1022, "Ingenico Lane/7000", P::genericRba, "L7000", "", kVariantLane7000, kVariantLane7000, "KORVANEL7000",
     F::lane7000, "Lane/7000"},
    {1023, "Ingenico Lane/8000", P::genericRba, "L8000", "", kVariantLane8000, kVariantLane8000, "KORVANEL8000",
     F::lane8000, "Lane/8000"},
    {1025, "Ingenico Move/5000", P::genericRba, "M5000", "", kVariantMove5000, kVariantMove5000, "KORVANEM5000",
     F::move5000, "Move/5000"},
    {1026, "Ingenico Link/2500", P::genericRba, "LK2500", "", kVariantLink2500, kVariantLink2500,
     "KORVANELINK2500", F::link2500, "Link/2500"},
    {1002, "Equinox L5300 - Load FPE and Forms", P::equinox, "EQ_L5300", "", kVariantEquinoxPci2,
     kVariantEquinoxPci3, "", std::nullopt, ""},
    {1003, "Verifone Vx805 - Load for Ethernet", P::verifoneVx805, "VX805_COMMSERVER", "", kVariantVx805,
     kVariantVx805, "", std::nullopt, ""},
    {1009, "Verifone Vx805 Qentrall - Load new XPI", P::verifoneVx805, "VX805_ELV_XPI", "", kVariantVx805,
     kVariantVx805, "", std::nullopt, ""},
    {1007, "RQ's", P::verifoneP400, "P400_RQ_SILENTD41", "", kVariantP400, kVariantP400, "", std::nullopt, ""},
};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

std::span<const ModelButton> modelButtons() { return kButtons; }

const ModelButton* findModelButton(int controlId) {
    const auto* found = std::find_if(std::begin(kButtons), std::end(kButtons),
                                     [controlId](const ModelButton& b) { return b.controlId == controlId; });
    return found == std::end(kButtons) ? nullptr : found;
}

const ModelButton* findModelButtonByCaption(std::string_view caption) {
    const std::string_view wanted = trimmed(caption);
    for (const ModelButton& button : kButtons)
        if (trimmed(button.caption) == wanted) return &button;
    return nullptr;
}

std::optional<FormsModel> formsModelOf(int variantCode) {
    switch (variantCode) {
        case kVariantIsc250: case kVariantIsc250V4: return F::iSC250;
        case kVariantIwl250: case kVariantIwl258: return F::iWL;
        case kVariantIpp320: case kVariantIpp320V4: return F::iPP320;
        case kVariantIpp350: case kVariantIpp350V4: return F::iPP350;
        case kVariantIsc480: case kVariantIsc480V4: return F::iSC480;
        case kVariantIuc285: return F::iUC285;
        case kVariantIsmp4: return F::iSMP4;
        case kVariantIcmp: return F::iCMP;
        case kVariantLane3000: return F::lane3000;
        case kVariantLane5000: return F::lane5000;
        case kVariantLane7000: return F::lane7000;
        case kVariantLane8000: return F::lane8000;
        case kVariantMove5000: return F::move5000;
        case kVariantLink2500: return F::link2500;
        default: return std::nullopt;
    }
}

}  // namespace korvane
