// The image assembler on arbitrary writable texts, each in a working copy of
// exactly its size plus the 16 NULs a catalogue copy carries.
//
// What must hold: the assembled length never exceeds the image buffer, and
// nothing is written past it; a failed assembly says why on the console; a
// successful one leaves a checksum that cancels the sum of the image bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "SimPlatform.h"
#include "VendraFwUpgrade.h"

namespace {

constexpr std::size_t WORKING_COPY_TAIL = 16;
constexpr std::size_t IMAGE_BUFFER_TAIL = 16;
constexpr std::size_t LONGEST_TEXT = 8192;

bool tailUntouched() {
    const std::uint8_t* tail = gDataConcatenated + CONCAT_BUFFER_SIZE;
    return std::all_of(tail, tail + IMAGE_BUFFER_TAIL, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    obtainSharedBuffers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > LONGEST_TEXT) {
        return 0;
    }
    platform::sim::reset();
    std::vector<char> text(size + WORKING_COPY_TAIL, '\0');
    std::copy_n(data, size, text.begin());

    const int result = ValidateFwAndConcatenateData(text.data());

    require(gDataConcatenatedLenght >= 0 && gDataConcatenatedLenght <= CONCAT_BUFFER_SIZE,
            "the assembled length lies within the image buffer");
    require(tailUntouched(), "nothing is written past the image buffer");
    if (result == 0) {
        require(!platform::sim::consoleText().empty(), "a failed assembly says why");
        return 0;
    }
    require(result == 1, "the result is 1 or 0");
    std::uint32_t sum = 0;
    for (std::int32_t i = 0; i < gDataConcatenatedLenght; ++i) {
        sum += gDataConcatenated[i];
    }
    require(sum + computeDataConcatenatedCheckSum() == 0,
            "the checksum cancels the sum of the image bytes");
    return 0;
}
