#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "CatalogueImages.h"
#include "ReferenceAssembler.h"
#include "ReleaseFigures.h"
#include "firmware/BinImage.h"

namespace {

constexpr std::size_t kFilePathSize = sizeof(autogen_files::filePath);
constexpr std::size_t kWorkingCopyPadding = 16;
constexpr std::uint32_t kSegmentSize = 0x10000;
constexpr std::string_view kLineEnd = "\r\n";

using release_figures::kMcu;
using release_figures::kRx;
using release_figures::kTx;

struct Entry {
    std::string_view name;
    const char* text;
    std::size_t arraySize;
    std::int32_t length;
};

const std::array<Entry, 3> kEntries{{
    {"K620418_MCU_61_1_06.hex", K620418_MCU_61_1_06_hex, sizeof K620418_MCU_61_1_06_hex, 265'659},
    {"K620418_TX_XC7A75_1_07.mcs", K620418_TX_XC7A75_1_07_mcs, sizeof K620418_TX_XC7A75_1_07_mcs,
     5'976'153},
    {"K620418_RX_XC7A75_1_07.mcs", K620418_RX_XC7A75_1_07_mcs, sizeof K620418_RX_XC7A75_1_07_mcs,
     5'976'153},
}};

std::string_view nameOf(const autogen_files& entry) {
    const auto* end = std::find(entry.filePath, entry.filePath + kFilePathSize, '\0');
    return {entry.filePath, static_cast<std::size_t>(end - entry.filePath)};
}

std::string_view textOf(const autogen_files& entry) {
    return {entry.fileData, static_cast<std::size_t>(entry.fileDataLength)};
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find(kLineEnd);
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + kLineEnd.size());
    }
    return lines;
}

using hex_records::kData;
using hex_records::kEof;
using hex_records::kExtendedLinear;
using hex_records::kStartLinear;
using reference::parseRecord;
using reference::Record;

struct Placed {
    std::uint32_t address;
    std::size_t size;
    bool operator==(const Placed&) const = default;
};

struct Marker {
    std::size_t line;
    std::uint16_t upper;
    bool operator==(const Marker&) const = default;
};

// What an image text holds, read record by record with linear addresses.
struct Summary {
    std::vector<Record> records;
    std::size_t longestLine = 0;
    std::map<std::uint8_t, std::size_t> countByType;
    std::vector<Marker> extendedLinear;
    std::vector<Placed> dataNotOf16;
    std::vector<Placed> dataRanges;  // runs of adjacent data, in text order
    bool crossesSegment = false;
};

Summary summarise(std::string_view text) {
    Summary s;
    std::uint32_t upper = 0;
    const auto lines = linesOf(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const auto record = parseRecord(lines[n]);
        if (!record) {
            ADD_FAILURE() << "line " << n << " is no valid record: " << lines[n];
            return s;
        }
        s.longestLine = std::max(s.longestLine, lines[n].size());
        ++s.countByType[record->type];
        if (record->type == kExtendedLinear && record->data.size() == 2) {
            upper = static_cast<std::uint32_t>(record->data[0] << 8 | record->data[1]);
            s.extendedLinear.push_back({n, static_cast<std::uint16_t>(upper)});
        }
        if (record->type == kData) {
            const std::uint32_t address = upper << 16 | record->address;
            const auto size = record->data.size();
            if (size != 16) {
                s.dataNotOf16.push_back({address, size});
            }
            s.crossesSegment |= record->address + size > kSegmentSize;
            if (!s.dataRanges.empty() &&
                s.dataRanges.back().address + s.dataRanges.back().size == address) {
                s.dataRanges.back().size += size;
            } else {
                s.dataRanges.push_back({address, size});
            }
        }
        s.records.push_back(*record);
    }
    return s;
}

std::vector<Marker> expectedExtendedLinear(std::uint16_t first, std::size_t count,
                                           std::size_t firstSegmentRecords) {
    constexpr std::size_t kRecordsPerSegment = kSegmentSize / 16;
    std::vector<Marker> markers;
    std::size_t line = 0;
    for (std::size_t k = 0; k < count; ++k) {
        markers.push_back({line, static_cast<std::uint16_t>(first + k)});
        line += 1 + (k == 0 ? firstSegmentRecords : kRecordsPerSegment);
    }
    return markers;
}

TEST(Catalogue, EntriesNameTheirFilesInOrder) {
    for (std::size_t i = 0; i < kEntries.size(); ++i) {
        SCOPED_TRACE(kEntries[i].name);
        const auto& entry = AUTOGEN_FILES[i];
        EXPECT_EQ(nameOf(entry), kEntries[i].name);
        EXPECT_EQ(entry.filePathLength, static_cast<signed char>(kEntries[i].name.size()));
        EXPECT_EQ(entry.fileData, kEntries[i].text);
        EXPECT_EQ(kEntries[i].arraySize, static_cast<std::size_t>(entry.fileDataLength) + 1);
    }
}

TEST(Catalogue, TextArrayIsTheTextAndOneNul) {
    for (const auto& entry : AUTOGEN_FILES) {
        SCOPED_TRACE(entry.filePath);
        EXPECT_EQ(std::strlen(entry.fileData), static_cast<std::size_t>(entry.fileDataLength));
    }
    for (const auto& expected : kEntries) {
        EXPECT_EQ(expected.text[expected.arraySize - 1], '\0') << expected.name;
    }
}

TEST(Catalogue, FilePathIsTheNamePaddedWithNul) {
    for (const auto& entry : AUTOGEN_FILES) {
        SCOPED_TRACE(entry.filePath);
        ASSERT_GE(entry.filePathLength, 0);
        const auto nameLength = static_cast<std::size_t>(entry.filePathLength);
        EXPECT_EQ(nameOf(entry).size(), nameLength);
        EXPECT_TRUE(std::all_of(entry.filePath + nameLength, entry.filePath + kFilePathSize,
                                [](char c) { return c == '\0'; }));
    }
}

TEST(Catalogue, EveryLineIsARecordEndingWithCrLf) {
    for (const auto& entry : AUTOGEN_FILES) {
        SCOPED_TRACE(entry.filePath);
        const auto text = textOf(entry);
        ASSERT_TRUE(text.ends_with(kLineEnd));
        EXPECT_EQ(entry.fileData[text.size()], '\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "CR alone at " << i;
            }
            if (text[i] == '\n') {
                ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "LF alone at " << i;
            }
        }
        for (const auto line : linesOf(text)) {
            ASSERT_TRUE(parseRecord(line)) << line;
        }
    }
}

// This release's figures hold for the sample images only; a maker's
// directory may hold another release.
class ReleaseImages : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!kCatalogueHoldsSampleImages) {
            GTEST_SKIP() << "the catalogue holds a maker's images";
        }
    }
};

TEST_F(ReleaseImages, TextLengths) {
    std::size_t constantData = 0;
    for (std::size_t i = 0; i < kEntries.size(); ++i) {
        SCOPED_TRACE(kEntries[i].name);
        EXPECT_EQ(AUTOGEN_FILES[i].fileDataLength, kEntries[i].length);
        constantData += kEntries[i].arraySize;
    }
    EXPECT_EQ(constantData, 12'217'968u);
    EXPECT_EQ(AUTOGEN_FILES[kMcu].fileDataLength + kWorkingCopyPadding, 265'675u);
}

TEST_F(ReleaseImages, TxAndRxTextsAreIdentical) {
    EXPECT_TRUE(textOf(AUTOGEN_FILES[kTx]) == textOf(AUTOGEN_FILES[kRx]));
}

TEST_F(ReleaseImages, MicrocontrollerImageRecords) {
    const auto s = summarise(textOf(AUTOGEN_FILES[kMcu]));
    ASSERT_EQ(s.records.size(), 5'907u);
    EXPECT_EQ(s.countByType,
              (std::map<std::uint8_t, std::size_t>{
                  {kData, 5'903}, {kEof, 1}, {kExtendedLinear, 2}, {kStartLinear, 1}}));
    EXPECT_EQ(s.extendedLinear, expectedExtendedLinear(0x8000, 2, 32 * 1024 / 16));
    EXPECT_EQ(s.dataNotOf16, (std::vector<Placed>{{0x8001BD40, 2}, {0x8001F190, 8}}));
    EXPECT_EQ(s.dataRanges, (std::vector<Placed>{{0x80008000, 0x8001BD42 - 0x80008000},
                                                 {0x8001BE00, 0x8001F198 - 0x8001BE00}}));
    EXPECT_FALSE(s.crossesSegment);
    EXPECT_EQ(s.longestLine, 43u);

    const auto& start = s.records[s.records.size() - 2];
    EXPECT_EQ(start.type, kStartLinear);
    EXPECT_EQ(start.data, (std::vector<std::uint8_t>{0x80, 0x00, 0x80, 0x08}));
    EXPECT_TRUE(textOf(AUTOGEN_FILES[kMcu]).ends_with("\r\n:00000001FF\r\n"));
}

TEST_F(ReleaseImages, ProgrammableLogicImageRecords) {
    for (const int position : {kTx, kRx}) {
        SCOPED_TRACE(AUTOGEN_FILES[position].filePath);
        const auto s = summarise(textOf(AUTOGEN_FILES[position]));
        ASSERT_EQ(s.records.size(), 132'825u);
        EXPECT_EQ(s.countByType, (std::map<std::uint8_t, std::size_t>{
                                     {kData, 132'791}, {kEof, 1}, {kExtendedLinear, 33}}));
        EXPECT_EQ(s.extendedLinear, expectedExtendedLinear(0x0000, 33, kSegmentSize / 16));
        EXPECT_EQ(s.dataNotOf16, (std::vector<Placed>{{0x206B60, 8}}));
        EXPECT_EQ(s.dataRanges, (std::vector<Placed>{{0, 2'124'648}}));
        EXPECT_FALSE(s.crossesSegment);
        EXPECT_EQ(s.longestLine, 43u);
        EXPECT_TRUE(textOf(AUTOGEN_FILES[position]).ends_with("\r\n:00000001FF\r\n"));
    }
}

TEST_F(ReleaseImages, AssembledLengthAndChecksum) {
    for (const auto& c : release_figures::kAssembled) {
        SCOPED_TRACE(AUTOGEN_FILES[c.position].filePath);
        const auto a = reference::assemble(summarise(textOf(AUTOGEN_FILES[c.position])).records);
        EXPECT_EQ(a.bytes.size(), static_cast<std::size_t>(c.length));
        EXPECT_EQ(a.checksum, c.checksum);
    }
}

TEST_F(ReleaseImages, ProgrammableLogicDataIsA7SeriesBitstream) {
    const auto a = reference::assemble(summarise(textOf(AUTOGEN_FILES[kTx])).records);
    const std::vector<std::uint8_t> head(a.bytes.begin(), a.bytes.begin() + 0x34);
    std::vector<std::uint8_t> expected(0x20, 0xFF);
    const std::uint8_t busWidth[] = {0x00, 0x00, 0x00, 0xBB, 0x11, 0x22, 0x00, 0x44};
    const std::uint8_t sync[] = {0xAA, 0x99, 0x55, 0x66};
    expected.insert(expected.end(), std::begin(busWidth), std::end(busWidth));
    expected.insert(expected.end(), 8, 0xFF);
    expected.insert(expected.end(), std::begin(sync), std::end(sync));
    EXPECT_EQ(head, expected);
}

}  // namespace
