#include <gtest/gtest.h>

#include "VendraFwUpgrade.h"

TEST(Smoke, VersionIsCompiledIn) {
    EXPECT_STREQ(FIRMWARE_VERSION_TO_UPLOAD, "1.0.7");
}
