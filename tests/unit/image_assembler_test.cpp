#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "HexRecords.h"
#include "VendraFwUpgrade.h"

namespace {

constexpr std::size_t kImageSize = CONCAT_BUFFER_SIZE;
constexpr std::uint8_t kErased = 0xFF;

using hex_records::dataRecord;
using hex_records::extendedLinearAddress;
using hex_records::kEndOfFile;
using hex_records::record;

// The shared image buffer as the program entry leaves it, with its 16 spare
// bytes, and writable working copies of test texts.
class ImageAssembler : public ::testing::Test {
  protected:
    void SetUp() override {
        buffer_.assign(kImageSize + 16, 0);
        gDataConcatenated = buffer_.data();
        gDataConcatenatedLenght = -1;
    }
    void TearDown() override { gDataConcatenated = nullptr; }

    static std::vector<char> workingCopy(const std::string& text) {
        std::vector<char> copy(text.begin(), text.end());
        copy.resize(text.size() + 16, '\0');
        return copy;
    }

    int assemble(const std::string& text) {
        std::vector<char> copy = workingCopy(text);
        return ValidateFwAndConcatenateData(copy.data());
    }

    std::vector<std::uint8_t> image(std::size_t from, std::size_t count) const {
        return {buffer_.begin() + static_cast<std::ptrdiff_t>(from),
                buffer_.begin() + static_cast<std::ptrdiff_t>(from + count)};
    }

    // Every byte of the image outside [from, from + count) is 0xFF, and the
    // spare bytes behind it are untouched.
    void expectErasedOutside(std::size_t from, std::size_t count) const {
        const auto begin = buffer_.begin();
        const auto isErased = [](std::uint8_t b) { return b == kErased; };
        EXPECT_TRUE(std::all_of(begin, begin + static_cast<std::ptrdiff_t>(from), isErased));
        EXPECT_TRUE(std::all_of(begin + static_cast<std::ptrdiff_t>(from + count),
                                begin + kImageSize, isErased));
        EXPECT_TRUE(
            std::all_of(begin + kImageSize, buffer_.end(), [](std::uint8_t b) { return b == 0; }));
    }

    std::vector<std::uint8_t> buffer_;
};

TEST_F(ImageAssembler, LengthIsTheLastRecordsOffset) {
    const std::string text = dataRecord(0x0000, {0x01, 0x02, 0x03, 0x04}) +
                             dataRecord(0x0004, {0xAA, 0xBB}) + kEndOfFile;
    ASSERT_EQ(assemble(text), 1);
    EXPECT_EQ(image(0, 6), (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB}));
    expectErasedOutside(0, 6);
    EXPECT_EQ(gDataConcatenatedLenght, 4);
    EXPECT_EQ(computeDataConcatenatedCheckSum(), 4294967286u);
    EXPECT_EQ(gDataConcatenatedCheckSum, 4294967286u);
}

TEST_F(ImageAssembler, LastRecordInTextDecidesTheLength) {
    const std::string text = extendedLinearAddress(0x80, 0x01) +
                             dataRecord(0x0010, {0x11, 0x22, 0x33, 0x44}) +
                             dataRecord(0x0000, {0x55, 0x66}) + kEndOfFile;
    ASSERT_EQ(assemble(text), 1);
    EXPECT_EQ(image(65536, 2), (std::vector<std::uint8_t>{0x55, 0x66}));
    EXPECT_EQ(image(65552, 4), (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(image(65538, 14), std::vector<std::uint8_t>(14, kErased));
    EXPECT_TRUE(std::all_of(buffer_.begin(), buffer_.begin() + 65536,
                            [](std::uint8_t b) { return b == kErased; }));
    EXPECT_EQ(gDataConcatenatedLenght, 65536);
    EXPECT_EQ(computeDataConcatenatedCheckSum(), 4278255616u);
}

TEST_F(ImageAssembler, SingleRecordGivesAnEmptyImage) {
    std::vector<std::uint8_t> data(16);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_EQ(assemble(dataRecord(0x0000, data) + kEndOfFile), 1);
    EXPECT_EQ(image(0, 16), data);
    expectErasedOutside(0, 16);
    EXPECT_EQ(gDataConcatenatedLenght, 0);
    EXPECT_EQ(computeDataConcatenatedCheckSum(), 0u);
}

TEST_F(ImageAssembler, InvalidFirstRecordLeavesTheImageErased) {
    std::string bad = dataRecord(0x0000, {0x01, 0x02});
    bad[10] = '7';
    ASSERT_EQ(assemble(bad + dataRecord(0x0002, {0x03}) + kEndOfFile), 0);
    expectErasedOutside(0, 0);
    EXPECT_EQ(gDataConcatenatedLenght, 0);
}

TEST_F(ImageAssembler, InvalidRecordStopsAfterTheValidOnes) {
    std::string bad = dataRecord(0x0008, {0x05});
    bad[bad.size() - 3] = '0';
    const std::string text = dataRecord(0x0000, {0x01, 0x02}) + dataRecord(0x0004, {0x03, 0x04}) +
                             bad + dataRecord(0x0010, {0x06}) + kEndOfFile;
    ASSERT_EQ(assemble(text), 0);
    EXPECT_EQ(image(0, 6), (std::vector<std::uint8_t>{0x01, 0x02, kErased, kErased, 0x03, 0x04}));
    expectErasedOutside(0, 6);
    EXPECT_EQ(gDataConcatenatedLenght, 4);
}

TEST_F(ImageAssembler, RecordsAfterEndOfFileArePlaced) {
    const std::string text =
        dataRecord(0x0000, {0x01}) + kEndOfFile + dataRecord(0x0002, {0x02, 0x03});
    ASSERT_EQ(assemble(text), 1);
    EXPECT_EQ(image(0, 4), (std::vector<std::uint8_t>{0x01, kErased, 0x02, 0x03}));
    EXPECT_EQ(gDataConcatenatedLenght, 2);
}

TEST_F(ImageAssembler, ExtendedLinearAddressUsesOnlyItsSecondByte) {
    struct Case {
        std::uint8_t high, low;
        std::size_t base;
    };
    const Case cases[] = {{0x80, 0x00, 0}, {0x00, 0x3F, 4128768}, {0x12, 0x3F, 4128768}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base);
        // A base left over from an earlier record must not survive.
        const std::string text = extendedLinearAddress(0x00, 0x20) + dataRecord(0x0000, {0x99}) +
                                 extendedLinearAddress(c.high, c.low) +
                                 dataRecord(0xFFF0, std::vector<std::uint8_t>(16, 0x5A)) +
                                 kEndOfFile;
        ASSERT_EQ(assemble(text), 1);
        EXPECT_EQ(image(c.base + 0xFFF0, 16), std::vector<std::uint8_t>(16, 0x5A));
        EXPECT_EQ(gDataConcatenatedLenght, static_cast<std::int32_t>(c.base + 0xFFF0));
    }
    // The highest base reaches the last byte of the image exactly.
    EXPECT_EQ(buffer_[kImageSize - 1], 0x5A);
    EXPECT_EQ(buffer_[kImageSize], 0);
}

TEST_F(ImageAssembler, RecordWithoutDataSetsOnlyTheLength) {
    ASSERT_EQ(assemble(dataRecord(0x0000, {0x01}) + dataRecord(0x0100, {}) + kEndOfFile), 1);
    EXPECT_EQ(gDataConcatenatedLenght, 0x100);
    expectErasedOutside(0, 1);
    EXPECT_EQ(computeDataConcatenatedCheckSum(), 0u - 0x01 - 255u * 0xFF);
}

TEST_F(ImageAssembler, OtherRecordTypesArePassedOver) {
    const std::string text = record(2, 0, {0x10, 0x00}) + record(3, 0, {0, 0, 0, 0}) +
                             dataRecord(0x0004, {0x01}) + record(5, 0, {0x80, 0, 0x80, 0x08}) +
                             kEndOfFile;
    ASSERT_EQ(assemble(text), 1);
    EXPECT_EQ(image(4, 1), std::vector<std::uint8_t>{0x01});
    expectErasedOutside(4, 1);
    EXPECT_EQ(gDataConcatenatedLenght, 4);
}

TEST_F(ImageAssembler, LaterRecordsOverwriteEarlierOnes) {
    const std::string text =
        dataRecord(0x0000, {0x01, 0x02, 0x03}) + dataRecord(0x0001, {0x0A}) + kEndOfFile;
    ASSERT_EQ(assemble(text), 1);
    EXPECT_EQ(image(0, 3), (std::vector<std::uint8_t>{0x01, 0x0A, 0x03}));
}

TEST_F(ImageAssembler, SecondAssemblyOfACopySeesOnlyItsFirstRecord) {
    std::vector<char> copy =
        workingCopy(dataRecord(0x0010, {0x01, 0x02}) + dataRecord(0x0020, {0x03}) + kEndOfFile);
    ASSERT_EQ(ValidateFwAndConcatenateData(copy.data()), 1);
    EXPECT_EQ(gDataConcatenatedLenght, 0x20);
    ASSERT_EQ(ValidateFwAndConcatenateData(copy.data()), 1);
    EXPECT_EQ(gDataConcatenatedLenght, 0x10);
    expectErasedOutside(0x10, 2);

    // An image that opens with its address base gives an empty image.
    copy = workingCopy(extendedLinearAddress(0x00, 0x01) + dataRecord(0x0000, {0x01}) + kEndOfFile);
    ASSERT_EQ(ValidateFwAndConcatenateData(copy.data()), 1);
    ASSERT_EQ(ValidateFwAndConcatenateData(copy.data()), 1);
    EXPECT_EQ(gDataConcatenatedLenght, 0);
    expectErasedOutside(0, 0);
}

TEST_F(ImageAssembler, AnyLineEndOrNoneAssemblesAlike) {
    for (const char* lineEnd : {"\r\n", "\n", "\r", "", "\n\r", "\r\n\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(lineEnd)));
        const std::string text = record(4, 0, {0x00, 0x01}, lineEnd) +
                                 dataRecord(0x0000, {0x01, 0x02}, lineEnd) +
                                 dataRecord(0x0002, {0x03}, lineEnd) + record(1, 0, {}, lineEnd);
        ASSERT_EQ(assemble(text), 1);
        EXPECT_EQ(image(0x10000, 3), (std::vector<std::uint8_t>{0x01, 0x02, 0x03}));
        EXPECT_EQ(gDataConcatenatedLenght, 0x10002);
    }
}

TEST_F(ImageAssembler, TextWithoutRecordsFails) {
    for (const std::string text : {"", ":", "::::"}) {
        EXPECT_EQ(assemble(text), 0) << text;
        expectErasedOutside(0, 0);
        EXPECT_EQ(gDataConcatenatedLenght, 0);
    }
    // A piece without any record in it is an invalid record.
    EXPECT_EQ(assemble(":\r\n:00000001FF\r\n"), 0);
}

// The line buffer holds ":", 98 characters and NUL: a record line of up to
// 99 characters, which is a record of up to 44 data bytes.
TEST_F(ImageAssembler, RecordLongerThanTheLineBufferFails) {
    const std::vector<std::uint8_t> fits(44, 0x11);
    const std::vector<std::uint8_t> tooLong(45, 0x22);
    for (const char* lineEnd : {"\r\n", "\n", ""}) {
        SCOPED_TRACE(testing::PrintToString(std::string(lineEnd)));
        ASSERT_EQ(dataRecord(0, fits, "").size(), 99u);
        ASSERT_EQ(assemble(dataRecord(0x0000, fits, lineEnd) + dataRecord(0x0100, {}, lineEnd)), 1);
        EXPECT_EQ(image(0, 44), fits);

        EXPECT_EQ(assemble(dataRecord(0x0000, {0x01}) + dataRecord(0x0010, tooLong, lineEnd) +
                           kEndOfFile),
                  0);
        EXPECT_EQ(image(0, 1), std::vector<std::uint8_t>{0x01});
        expectErasedOutside(0, 1);
    }
    // Text after a record's line end is not part of the record.
    const std::string trailing = dataRecord(0x0000, {0x01}) + std::string(300, ' ') + kEndOfFile;
    EXPECT_EQ(assemble(trailing), 1);
    EXPECT_EQ(image(0, 1), std::vector<std::uint8_t>{0x01});
}

TEST_F(ImageAssembler, DataBeyondTheImageBufferFails) {
    struct Case {
        std::uint8_t base;
        int address;
        std::size_t byteCount;
        int result;
    };
    const Case cases[] = {
        {0x3F, 0xFFF0, 16, 1}, {0x3F, 0xFFF1, 16, 0}, {0x3F, 0xFFFF, 255, 0}, {0x40, 0x0000, 1, 0},
        {0x40, 0x0000, 0, 1},  {0x40, 0x0001, 0, 0},  {0xFF, 0xFFFF, 255, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.base} << " " << c.address << " " << c.byteCount);
        const std::string text = dataRecord(0x0000, {0x01}) + extendedLinearAddress(0, c.base) +
                                 dataRecord(c.address, std::vector<std::uint8_t>(c.byteCount, 0)) +
                                 kEndOfFile;
        ASSERT_EQ(assemble(text), c.result);
        if (c.result == 0) {
            expectErasedOutside(0, 1);
            EXPECT_EQ(gDataConcatenatedLenght, 0);
        } else {
            // Up to 4 MiB: the checksum reads the whole image within the buffer.
            const std::uint32_t length = (std::uint32_t{c.base} << 16) + c.address;
            EXPECT_EQ(gDataConcatenatedLenght, static_cast<std::int32_t>(length));
            EXPECT_EQ(computeDataConcatenatedCheckSum(), 0u - 0x01 - (length - 1) * 0xFF);
        }
        EXPECT_TRUE(std::all_of(buffer_.begin() + kImageSize, buffer_.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

TEST_F(ImageAssembler, ExtendedLinearAddressWithoutItsTwoBytesFails) {
    for (const std::vector<std::uint8_t>& data :
         {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{0x01}}) {
        const std::string text = dataRecord(0x0000, {0x01}) + record(4, 0, data) +
                                 dataRecord(0x0004, {0x02}) + kEndOfFile;
        EXPECT_EQ(assemble(text), 0) << data.size();
        expectErasedOutside(0, 1);
        EXPECT_EQ(gDataConcatenatedLenght, 0);
    }
}

TEST(ImageChecksum, LengthZeroGivesZero) {
    std::vector<std::uint8_t> buffer(16, 0xFF);
    gDataConcatenated = buffer.data();
    gDataConcatenatedLenght = 0;
    gDataConcatenatedCheckSum = 1234;
    EXPECT_EQ(computeDataConcatenatedCheckSum(), 0u);
    EXPECT_EQ(gDataConcatenatedCheckSum, 0u);
    gDataConcatenated = nullptr;
}

TEST(LineEnds, EveryLineEndCharacterIsReplacedInPlace) {
    struct Case {
        std::string text;
        char replacement;
        std::string after;
    };
    const Case cases[] = {
        {"a\r\nb\n\rc", ' ', "a  b  c"},
        {":00000001FF\r\n", '\0', std::string(":00000001FF\0\0", 13)},
        {"\n", '\0', std::string(1, '\0')},
        {"", ' ', ""},
        {"no line end", '\0', "no line end"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(StrRemoveNL(text.data(), c.replacement), 1);
        EXPECT_EQ(text, c.after);
    }
    // The walk ends at the terminator it found on entry.
    char text[] = "a\r\0\rb";
    StrRemoveNL(text, 'x');
    EXPECT_EQ(std::string(text, sizeof text), std::string("ax\0\rb", 6));
}

}  // namespace
