#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimPlatform.h"
#include "VendraFwUpgrade.h"

namespace {

// What the assembler prints when it fails, read from the console transcript
// of the simulated platform.
class AssemblerOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::sim::reset();
        buffer_.assign(CONCAT_BUFFER_SIZE + 16, 0);
        gDataConcatenated = buffer_.data();
    }
    void TearDown() override {
        gDataConcatenated = nullptr;
        platform::sim::reset();
    }

    int assemble(const std::string& text) {
        std::vector<char> copy(text.begin(), text.end());
        copy.resize(text.size() + 16, '\0');
        return ValidateFwAndConcatenateData(copy.data());
    }

    std::vector<std::uint8_t> buffer_;
};

TEST_F(AssemblerOutput, InvalidRecordIsPrintedWithoutItsLineEnd) {
    ASSERT_EQ(assemble(":0200000001FF03\r\n:00000001FF\r\n"), 0);
    EXPECT_EQ(platform::sim::consoleText(), "\r\n intel_hex_line_is_valid \r\n:0200000001FF03\r\n");
}

TEST_F(AssemblerOutput, InvalidRecordAfterValidOnes) {
    ASSERT_EQ(assemble(":0100000001FE\r\n:0100010002FC\n:01000200FF00\r\n"), 0);
    EXPECT_EQ(platform::sim::consoleText(), "\r\n intel_hex_line_is_valid \r\n:01000200FF00\r\n");
}

TEST_F(AssemblerOutput, TextWithoutRecords) {
    ASSERT_EQ(assemble("::\r\n"), 0);
    ASSERT_EQ(assemble(""), 0);
    EXPECT_EQ(platform::sim::consoleText(),
              "\r\n intel_hex_line_is_valid \r\n:\r\n\r\nNUL extractedHexLine \r\n");
}

TEST_F(AssemblerOutput, RecordsThatCannotBePlaced) {
    const std::string longRecord = ":2D000000" + std::string(90, '0') + "D3";
    ASSERT_EQ(assemble(longRecord + "\r\n"), 0);
    ASSERT_EQ(assemble(":020000040040BA\r\n:0100000001FE\r\n"), 0);
    ASSERT_EQ(assemble(":0100000401FA\r\n"), 0);
    EXPECT_EQ(platform::sim::consoleText(),
              "\r\n intel_hex_line_is_valid \r\n" + longRecord.substr(0, 99) + "\r\n" +
                  "\r\n data record beyond the image buffer \r\n:0100000001FE\r\n" +
                  "\r\n intel_hex_line_is_valid \r\n:0100000401FA\r\n");
}

TEST_F(AssemblerOutput, SuccessPrintsNothing) {
    ASSERT_EQ(assemble(":0100000001FE\r\n:00000001FF\r\n"), 1);
    EXPECT_EQ(platform::sim::consoleText(), "");
}

}  // namespace
