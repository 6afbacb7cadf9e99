#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "CatalogueImages.h"
#include "ReferenceAssembler.h"
#include "ReleaseFigures.h"
#include "ScratchDirectory.h"
#include "VendraFwUpgrade.h"
#include "firmware/BinImage.h"

namespace {

namespace fs = std::filesystem;

using release_figures::kMcu;
using release_figures::kRx;
using release_figures::kTx;

std::string_view textOf(int position) {
    const autogen_files& entry = AUTOGEN_FILES[position];
    return {entry.fileData, static_cast<std::size_t>(entry.fileDataLength)};
}

// The catalogue entries assembled as the upload assembles them: a fresh
// working copy each time, into the shared buffer with its 16 spare bytes.
class CatalogueAssembly : public ::testing::Test {
  protected:
    void SetUp() override {
        buffer_.assign(CONCAT_BUFFER_SIZE + 16, 0);
        gDataConcatenated = buffer_.data();
    }
    void TearDown() override { gDataConcatenated = nullptr; }

    static int assemble(int position) {
        const std::unique_ptr<char[]> copy(newImageWorkingCopy(position));
        return ValidateFwAndConcatenateData(copy.get());
    }

    std::vector<std::uint8_t> buffer_;
};

TEST_F(CatalogueAssembly, ReleaseImageFigures) {
    if (!kCatalogueHoldsSampleImages) {
        GTEST_SKIP() << "the catalogue holds a maker's images";
    }
    for (const auto& c : release_figures::kAssembled) {
        SCOPED_TRACE(AUTOGEN_FILES[c.position].filePath);
        ASSERT_EQ(assemble(c.position), 1);
        EXPECT_EQ(gDataConcatenatedLenght, c.length);
        EXPECT_EQ(computeDataConcatenatedCheckSum(), c.checksum);
    }
}

// What a peer tool needs to know of an image text, read from its lines
// independently of the record reader.
struct TextFacts {
    std::uint32_t lowestDataAddress = UINT32_MAX;  // linear
    std::uint32_t lastDataPosition = 0;            // buffer position of the last data record
};

TextFacts factsOf(std::string_view text) {
    TextFacts facts;
    std::uint32_t upper = 0;
    for (const std::string_view line : reference::linesOf(text)) {
        const auto record = reference::parseRecord(line);
        if (!record) {
            ADD_FAILURE() << "not a record line: " << line;
            continue;
        }
        if (record->type == hex_records::kExtendedLinear) {
            upper = static_cast<std::uint32_t>(record->data.at(0) << 8 | record->data.at(1));
        } else if (record->type == hex_records::kData) {
            const std::uint32_t linear = (upper << 16) + record->address;
            if (!record->data.empty()) {
                facts.lowestDataAddress = std::min(facts.lowestDataAddress, linear);
            }
            facts.lastDataPosition = linear & 0xFFFFFF;
        }
    }
    return facts;
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// objcopy writes the image from its lowest data address on, with gaps filled
// as asked; ours starts at buffer position 0. Over the assembled length the
// two must agree, and below objcopy's start ours holds 0xFF.
TEST_F(CatalogueAssembly, FlatImageMatchesObjcopy) {
    if (std::system("objcopy --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "objcopy is not installed";
    }
    const ScratchDirectory dir;
    for (const int position : {kMcu, kTx, kRx}) {
        SCOPED_TRACE(AUTOGEN_FILES[position].filePath);
        const std::string_view text = textOf(position);
        const fs::path hex = dir / "image.hex";
        const fs::path bin = dir / "image.bin";
        std::ofstream(hex, std::ios::binary).write(text.data(), std::ssize(text));
        const std::string command = "objcopy -I ihex -O binary --gap-fill 0xff '" + hex.string() +
                                    "' '" + bin.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::vector<std::uint8_t> peer = readFile(bin);

        const TextFacts facts = factsOf(text);
        ASSERT_EQ(assemble(position), 1);
        const std::uint32_t checkSum = computeDataConcatenatedCheckSum();
        const auto length = static_cast<std::size_t>(gDataConcatenatedLenght);
        const std::size_t start = facts.lowestDataAddress & 0xFFFFFF;
        EXPECT_EQ(length, facts.lastDataPosition);
        ASSERT_LE(start, length);
        ASSERT_LE(length - start, peer.size());

        const std::uint8_t* image = buffer_.data();
        EXPECT_TRUE(std::all_of(image, image + start, [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_TRUE(std::equal(image + start, image + length, peer.data()));
        const std::uint32_t peerSum =
            std::accumulate(peer.data(), peer.data() + (length - start), std::uint32_t{0});
        EXPECT_EQ(checkSum, 0u - (peerSum + 0xFFu * static_cast<std::uint32_t>(start)));
    }
}

}  // namespace
