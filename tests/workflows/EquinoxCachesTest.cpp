#include "platform/Tick.h"
#include "workflows/EquinoxCaches.h"
#include "workflows/EquinoxWorker.h"
#include "job/LoadJob.h"
#include "job/VariantCode.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(EquinoxCaches, TwelveHoursForgetBothConfigurationsAndKeepBothFpes) {
    EquinoxCaches caches;
    for (EquinoxGeneration* generation : {&caches.pci2, &caches.pci3}) {
        generation->fpe = {ByteArray(10, 1), "FPE1"};
        generation->config = {ByteArray(10, 2), "CFG1"};
    }
    uint32_t stamp = tickCount() - (EquinoxCaches::kLifetimeMs - 60000);
    caches.expireIfStale(stamp);
    EXPECT_FALSE(caches.pci2.config.image.empty()) << "a minute short of twelve hours";

    stamp = tickCount() - EquinoxCaches::kLifetimeMs - 1000;  // wraps below zero when the tick is young
    caches.expireIfStale(stamp);
    for (const EquinoxGeneration* generation : {&caches.pci2, &caches.pci3}) {
        EXPECT_TRUE(generation->config.image.empty());
        EXPECT_TRUE(generation->config.version.empty());
        EXPECT_EQ(generation->fpe.image, ByteArray(10, 1));
        EXPECT_EQ(generation->fpe.version, "FPE1");
    }
    EXPECT_LT(elapsedSince(stamp), 60000u) << "the stamp starts again";
}

TEST(EquinoxVariants, LettersCodesAndPackages) {
    const EquinoxVariant* pci2 = equinoxVariantOfModel("H");
    ASSERT_NE(pci2, nullptr);
    EXPECT_EQ(pci2->variantCode, kVariantEquinoxPci2);
    EXPECT_STREQ(pci2->loadIdentifier, "EQ_L5300_PCI2_SILVE2E");
    EXPECT_STREQ(pci2->fpePackage, "EQ_L5XXX_FPE_PCI2");
    EXPECT_EQ(pci2->fpeNeeded, &LoadJob::fpeNeededPci2);
    EXPECT_EQ(&pci2->caches(), &equinoxCaches().pci2);
    const EquinoxVariant* pci3 = equinoxVariantOfModel("K");
    ASSERT_NE(pci3, nullptr);
    EXPECT_EQ(pci3->variantCode, kVariantEquinoxPci3);
    EXPECT_STREQ(pci3->loadIdentifier, "EQ_L5300_PCI3_SILVE2E");
    EXPECT_STREQ(pci3->fpePackage, "EQ_L5XXX_FPE_PCI3");
    EXPECT_EQ(pci3->configMissing, &LoadJob::configMissingPci3);
    EXPECT_EQ(equinoxVariantOfCode(kVariantEquinoxPci3), pci3);
    for (const char* other : {"L", "", "h"}) EXPECT_EQ(equinoxVariantOfModel(other), nullptr) << other;
    EXPECT_EQ(equinoxVariantOfCode(kVariantEquinoxOther), nullptr);
}

}  // namespace
}  // namespace korvane
