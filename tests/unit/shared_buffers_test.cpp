// The buffers the console run obtains at start and releases at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "VendraFwUpgrade.h"
#include "firmware/BinImage.h"

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

namespace {

TEST(ImageWorkingCopy, HoldsTheTextFollowedBySixteenNuls) {
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        const autogen_files& image = AUTOGEN_FILES[index];
        const auto length = static_cast<std::size_t>(image.fileDataLength);
        const std::unique_ptr<char[]> copy(newImageWorkingCopy(index));
        ASSERT_NE(copy, nullptr);
        EXPECT_TRUE(std::string_view(copy.get(), length) ==
                    std::string_view(image.fileData, length));
        EXPECT_TRUE(std::all_of(copy.get() + length, copy.get() + length + 16,
                                [](char c) { return c == '\0'; }));
        // Writable: the assembler splits the copy in place.
        copy[0] = '\0';
        EXPECT_NE(image.fileData[0], '\0');
    }
}

TEST(ImageWorkingCopy, NoCopyOfAnEntryOutsideTheCatalogue) {
    EXPECT_EQ(newImageWorkingCopy(-1), nullptr);
    EXPECT_EQ(newImageWorkingCopy(3), nullptr);
}

}  // namespace
