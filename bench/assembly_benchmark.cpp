// Assembly and checksum of the catalogue's images, each run on a fresh
// working copy, as the upload takes them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "VendraFwUpgrade.h"
#include "firmware/BinImage.h"

namespace {

constexpr int MCU_ENTRY = 0;
constexpr int TX_PROGRAMMABLE_LOGIC_ENTRY = 1;

std::vector<char> workingCopy(const autogen_files& entry) {
    std::vector<char> copy(static_cast<std::size_t>(entry.fileDataLength) + 16, '\0');
    std::memcpy(copy.data(), entry.fileData, static_cast<std::size_t>(entry.fileDataLength));
    return copy;
}

void assembleAndCheckSum(benchmark::State& state) {
    const autogen_files& entry = AUTOGEN_FILES[state.range(0)];
    std::vector<std::uint8_t> image(CONCAT_BUFFER_SIZE + 16, 0);
    gDataConcatenated = image.data();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<char> copy = workingCopy(entry);
        state.ResumeTiming();
        if (ValidateFwAndConcatenateData(copy.data()) == 0) {
            state.SkipWithError("assembly failed");
            break;
        }
        benchmark::DoNotOptimize(computeDataConcatenatedCheckSum());
    }
    state.SetBytesProcessed(state.iterations() * entry.fileDataLength);
    state.SetLabel("length " + std::to_string(gDataConcatenatedLenght) + " checksum " +
                   std::to_string(gDataConcatenatedCheckSum));
    gDataConcatenated = nullptr;
}

}  // namespace

BENCHMARK(assembleAndCheckSum)
    ->Arg(TX_PROGRAMMABLE_LOGIC_ENTRY)
    ->Arg(MCU_ENTRY)
    ->Unit(benchmark::kMillisecond);
