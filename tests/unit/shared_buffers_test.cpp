// The buffers the console run obtains at start and releases at the end.
#include <gtest/gtest.h>

#include <algorithm>

#include "VendraFwUpgrade.h"

namespace {

TEST(SharedBuffers, AssemblyAreaIsErasedAndTheScratchBufferZeroed) {
    obtainSharedBuffers();
    ASSERT_NE(gDataConcatenated, nullptr);
    ASSERT_NE(gDataBuffer, nullptr);
    const std::uint8_t* area = gDataConcatenated;
    EXPECT_TRUE(
        std::all_of(area, area + CONCAT_BUFFER_SIZE, [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(area + CONCAT_BUFFER_SIZE, area + CONCAT_BUFFER_SIZE + 16,
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(
        std::all_of(gDataBuffer, gDataBuffer + DATA_BUFFER_SIZE, [](char c) { return c == 0; }));

    releaseSharedBuffers();
    EXPECT_EQ(gDataConcatenated, nullptr);
    EXPECT_EQ(gDataBuffer, nullptr);
}

}  // namespace
