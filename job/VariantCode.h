#pragma once

namespace korvane {

// The numbers by which the worker, the forms step and the server client tell
// the pad variants apart. Fixed: they travel in `variantCode` and decide
// which package and forms a load gets.
enum VariantCode : int {
    kVariantIsc250 = 1,
    kVariantVx805 = 2,  // both Vx805 buttons
    kVariantIwl250 = 3,
    kVariantIwl258 = 4,
    kVariantIpp320 = 5,
    kVariantIpp350 = 6,
    kVariantIpp320V4 = 7,
    kVariantIpp350V4 = 8,
    kVariantIsc250V4 = 9,
    kVariantP400 = 10,
    kVariantIuc285 = 14,
    kVariantIsc480 = 15,
    kVariantIsc480V4 = 16,
    kVariantIsmp4 = 17,
    kVariantIcmp = 18,  // pad name "iCM122"
    kVariantEquinoxOther = 21,  // neither PCI2 nor PCI3: refused
    kVariantEquinoxPci2 = 23,
    kVariantEquinoxPci3 = 24,
    kVariantLane3000 = 25,
    kVariantLane5000 = 26,
    kVariantLane7000 = 27,
    kVariantLane8000 = 28,
    kVariantMove5000 = 29,
    kVariantLink2500 = 30,
};

}  // namespace korvane
