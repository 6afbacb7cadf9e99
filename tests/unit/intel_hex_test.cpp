#include "IntelHex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// A record line in a heap buffer of exactly its size, so that the address
// sanitizer catches any read past its NUL or before its start.
class ExactLine {
  public:
    explicit ExactLine(const std::string& text) : text_(std::make_unique<char[]>(text.size() + 1)) {
        std::memcpy(text_.get(), text.c_str(), text.size() + 1);
    }
    const char* get() const { return text_.get(); }

  private:
    std::unique_ptr<char[]> text_;
};

std::optional<std::vector<std::uint8_t>> dataArray(const char* line, std::size_t byteCount) {
    std::uint8_t* data = new_u8_data_array_from_intel_hex_string(line);
    if (data == nullptr) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(data, data + byteCount);
    std::free(data);
    return bytes;
}

struct RecordCase {
    const char* line;
    int byteCount;
    int address;
    int type;
    bool isData;
    bool isExtendedLinearAddress;
    std::vector<std::uint8_t> data;
};

void expectValidRecord(const RecordCase& c) {
    SCOPED_TRACE(c.line);
    const ExactLine line(c.line);
    EXPECT_EQ(intel_hex_line_is_valid(line.get()), INTEL_HEX_STRING_OK);
    EXPECT_EQ(intel_hex_line_address(line.get()), c.address);
    const auto data = dataArray(line.get(), c.data.size());
    EXPECT_EQ(intel_hex_line_data_length(line.get()), c.byteCount);
    EXPECT_EQ(intel_hex_line_record_type(line.get()), c.type);
    EXPECT_EQ(intel_hex_line_is_data_record(line.get()), c.isData ? 1 : 0);
    EXPECT_EQ(intel_hex_line_is_extended_linear_address_record(line.get()),
              c.isExtendedLinearAddress ? 1 : 0);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(*data, c.data);

    const IntelHexRecord record = intel_hex_record_from_valid_line(line.get());
    EXPECT_EQ(record.dataLength, c.byteCount);
    EXPECT_EQ(record.address, c.address);
    EXPECT_EQ(record.recordType, c.type);
    EXPECT_EQ(std::vector<std::uint8_t>(record.data, record.data + record.dataLength), c.data);
}

const std::vector<std::uint8_t> kSixteenBytes = {0x48, 0x1F, 0xD7, 0x03, 0x80, 0x01, 0x4F, 0x1C,
                                                 0xE0, 0x8F, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST(RecordReader, WellFormedRecords) {
    const RecordCase cases[] = {
        {":00000001FF", 0, 0, INTEL_HEX_RECORD_EOF, false, false, {}},
        {":0200000480007A",
         2,
         0,
         INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS,
         false,
         true,
         {0x80, 0x00}},
        {":10800000481FD70380014F1CE08F100000000000C4", 16, 0x8000, INTEL_HEX_RECORD_DATA, true,
         false, kSixteenBytes},
        {":10800000481fd70380014f1ce08f100000000000c4", 16, 0x8000, INTEL_HEX_RECORD_DATA, true,
         false, kSixteenBytes},
        // A data record without data still gives an array.
        {":00123400BA", 0, 0x1234, INTEL_HEX_RECORD_DATA, true, false, {}},
        // Only the second type digit is read: "10" is a data record.
        {":00000010F0", 0, 0, INTEL_HEX_RECORD_DATA, true, false, {}},
        {":0400000580008008EF",
         4,
         0,
         INTEL_HEX_RECORD_START_LINEAR_ADDRESS,
         false,
         false,
         {0x80, 0x00, 0x80, 0x08}},
        {":020000021000EC",
         2,
         0,
         INTEL_HEX_RECORD_EXTENDED_SEGMENT_ADDRESS,
         false,
         false,
         {0x10, 0x00}},
        // More digits than the byte count names: the checksum still comes
        // from the last two characters.
        {":0000000100FF", 0, 0, INTEL_HEX_RECORD_EOF, false, false, {}},
    };
    for (const RecordCase& c : cases) {
        expectValidRecord(c);
    }
}

// Invalid lines give address 0 and no data. Lines shorter than their byte
// count needs are among them, and no operation reads outside any of them.
TEST(RecordReader, InvalidRecords) {
    const char* lines[] = {
        // One data digit changed.
        ":10800000481FD70380014F1CE08F100000000001C4",
        // The line end still attached: CR LF take the checksum's place.
        ":00000001FF\r\n",
        ":00000001FF\n",
        "X00000001FF",
        ";0200000480007A",
        " :00000001FF",
        "",
        ":",
        ":0",
        ":00",
        ":000000",
        ":00000001F",
        // Byte count 2 but no data digits; the sum would need 15 characters.
        ":02000004FA",
        // Byte count 16 but 15 data bytes: summing 20 bytes from position 1
        // would take the checksum digits for data, and they would match.
        ":10800000481FD70380014F1CE08F100000000062",
        ":FF",
        ":FF000000",
    };
    for (const char* text : lines) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        const ExactLine line(text);
        EXPECT_EQ(intel_hex_line_is_valid(line.get()), INTEL_HEX_STRING_INVALID);
        EXPECT_EQ(intel_hex_line_address(line.get()), 0);
        EXPECT_EQ(new_u8_data_array_from_intel_hex_string(line.get()), nullptr);
        // Results of the unchecked accessors are meaningless here; they must
        // only stay within the line.
        intel_hex_line_data_length(line.get());
        intel_hex_line_record_type(line.get());
        intel_hex_line_is_data_record(line.get());
        intel_hex_line_is_extended_linear_address_record(line.get());
        intel_hex_start_code_present(line.get());
        intel_hex_record_from_valid_line(line.get());
    }
}

TEST(RecordReader, StartCode) {
    EXPECT_EQ(intel_hex_start_code_present(":00000001FF"), 1);
    EXPECT_EQ(intel_hex_start_code_present("00000001FF"), 0);
    EXPECT_EQ(intel_hex_start_code_present(""), 0);
}

TEST(RecordChecksum, SumsTheNamedBytes) {
    struct Case {
        const char* digits;
        int numberOfBytes;
        int checksum;
    };
    const Case cases[] = {
        {"0200000480 00", 4, 0xFA},
        {"020000048000", 6, 0x7A},
        {"00000001", 4, 0xFF},
        {"FFFF", 2, 0x02},
        {"0102030405", 2, 0xFD},
        {"0102", 0, 0x00},
        // Digits that are not there add nothing.
        {"0102", 259, 0xFD},
        {"012", 3, 0xFD},
        {"", 4, 0x00},
    };
    for (const Case& c : cases) {
        const ExactLine digits(c.digits);
        EXPECT_EQ(u8_checksum_from_hex_string(digits.get(), c.numberOfBytes), c.checksum)
            << c.digits << " / " << c.numberOfBytes;
    }
}

}  // namespace
