// Assembly and checksum of the catalogue's images, each run on a fresh
// working copy, as the upload takes them.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "VendraFwUpgrade.h"
#include "firmware/BinImage.h"

namespace {

constexpr int MCU_ENTRY = 0;
constexpr int TX_PROGRAMMABLE_LOGIC_ENTRY = 1;

void assembleAndCheckSum(benchmark::State& state) {
    const int position = static_cast<int>(state.range(0));
    obtainSharedBuffers();
    for (auto _ : state) {
        state.PauseTiming();
        const std::unique_ptr<char[]> copy(newImageWorkingCopy(position));
        state.ResumeTiming();
        if (ValidateFwAndConcatenateData(copy.get()) == 0) {
            state.SkipWithError("assembly failed");
            break;
        }
        benchmark::DoNotOptimize(computeDataConcatenatedCheckSum());
    }
    state.SetBytesProcessed(state.iterations() * AUTOGEN_FILES[position].fileDataLength);
    state.SetLabel("length " + std::to_string(gDataConcatenatedLenght) + " checksum " +
                   std::to_string(gDataConcatenatedCheckSum));
    releaseSharedBuffers();
}

}  // namespace

BENCHMARK(assembleAndCheckSum)
    ->Arg(TX_PROGRAMMABLE_LOGIC_ENTRY)
    ->Arg(MCU_ENTRY)
    ->Unit(benchmark::kMillisecond);
