#include "platform/Tick.h"
#include "workflows/IngenicoCaches.h"
#include "workflows/ModelButtons.h"
#include "job/VariantCode.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

CachedImage imageOf(size_t bytes, const char* announced, int fetchedFor = kVariantIpp350) {
    CachedImage cached;
    cached.variantCode = fetchedFor;
    cached.image.assign(bytes, 0x5A);
    cached.version = "2310";
    cached.fileName = "RBAIPP350.OGZ";
    cached.announcedSize = announced;
    return cached;
}

TEST(IngenicoCaches, AnImageServesOnlyWhenWholeFetchedForThisVariantAndItLoadedLast) {
    struct Case {
        size_t bytes;
        const char* announced;
        int fetchedFor;
        int lastLoaded;
        bool serves;
    } cases[] = {
        {1000, "1000", kVariantIpp350, kVariantIpp350, true},
        {1000, "", kVariantIpp350, kVariantIpp350, true},
        {999, "1000", kVariantIpp350, kVariantIpp350, false},  // a download cut short
        {0, "0", kVariantIpp350, kVariantIpp350, false},
        {1000, "1000", kVariantIpp350, kVariantIpp350V4, false},
        {1000, "1000", kVariantIpp350, 0, false},
        // another model's fetch after the last load, which then failed
        {1000, "1000", kVariantIsc250, kVariantIpp350, false},
        {1000, "1000", 0, kVariantIpp350, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cacheServes(imageOf(c.bytes, c.announced, c.fetchedFor), c.lastLoaded, kVariantIpp350), c.serves)
            << c.bytes << " of " << c.announced << " fetched for " << c.fetchedFor << " after variant "
            << c.lastLoaded;
}

TEST(IngenicoCaches, TwelveHoursForgetTheImagesAndThreeSecurityFilesAcrossTheTickWrap) {
    IngenicoCaches caches;
    caches.images.application = imageOf(10, "10");
    caches.images.serialConfig = imageOf(10, "10");
    caches.securityFiles.secbin21 = {1};
    caches.securityFiles.secbinTetra = {2};

    uint32_t stamp = tickCount() - (IngenicoCaches::kLifetimeMs - 60000);
    caches.expireIfStale(stamp);
    EXPECT_FALSE(caches.images.application.image.empty()) << "a minute short of twelve hours";

    stamp = tickCount() - IngenicoCaches::kLifetimeMs - 1000;  // wraps below zero when the tick is young
    caches.expireIfStale(stamp);
    EXPECT_TRUE(caches.images.application.image.empty());
    EXPECT_TRUE(caches.images.application.version.empty());
    EXPECT_TRUE(caches.images.application.fileName.empty());
    EXPECT_EQ(caches.images.application.announcedSize, "10");
    EXPECT_EQ(caches.images.application.variantCode, 0);
    EXPECT_TRUE(caches.images.serialConfig.image.empty());
    EXPECT_TRUE(caches.securityFiles.secbin21.empty());
    EXPECT_FALSE(caches.securityFiles.secbinTetra.empty());
    EXPECT_FALSE(caches.securityFiles.isComplete());
    EXPECT_LT(elapsedSince(stamp), 60000u) << "the stamp starts again";
}

TEST(ModelButtons, CaptionsAreFoundWithoutTheirSpacesAndCodesPickTheirFormsStep) {
    ASSERT_NE(findModelButtonByCaption("Ingenico iSC250"), nullptr);
    EXPECT_EQ(findModelButtonByCaption("  Ingenico iSC250 ")->controlId, 1001);
    EXPECT_EQ(findModelButtonByCaption("Ingenico iPP35"), nullptr);
    EXPECT_EQ(findModelButtonByCaption("RQ's")->procedure, LoadProcedure::verifoneP400);

    EXPECT_EQ(formsModelOf(kVariantIwl250), FormsModel::iWL);
    EXPECT_EQ(formsModelOf(kVariantIpp320V4), FormsModel::iPP320);
    EXPECT_EQ(formsModelOf(kVariantIcmp), FormsModel::iCMP);
    EXPECT_FALSE(formsModelOf(kVariantVx805).has_value());
    EXPECT_FALSE(formsModelOf(kVariantEquinoxPci2).has_value());
    for (const ModelButton& button : modelButtons()) {
        if (button.procedure == LoadProcedure::ingenicoWithCacheSet || button.procedure == LoadProcedure::genericRba) {
            EXPECT_EQ(formsModelOf(button.variantCode), button.formsModel) << button.caption;
        }
    }
}

}  // namespace
}  // namespace korvane
