#include "platform/InstanceLock.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstReleases) {
    test::TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    EXPECT_EQ(InstanceLock::lockFilePath(), runtime.file("KorvaneOlbrekFieldLoaderMutex"));

    InstanceLock first;
    InstanceLock second;
    ASSERT_TRUE(first.acquire());
    EXPECT_FALSE(second.acquire());
    first.release();
    EXPECT_TRUE(second.acquire()) << "a released lock must not block the next start";
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceLock::lockFilePath(), "/tmp/KorvaneOlbrekFieldLoaderMutex");
}

}  // namespace
}  // namespace korvane
