// Assembles one image text file into its flat image, as the upload does, and
// writes the first gDataConcatenatedLenght bytes to a file: the same job as
// `objcopy -I ihex -O binary`, for timing the two side by side. Prints the
// length, the checksum and the shortest time of assembly and checksum over
// RUNS runs, each on a fresh working copy.
//
// Usage: assemble_image IMAGE_TEXT FLAT_IMAGE [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "VendraFwUpgrade.h"

namespace {

std::vector<char> readText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto length = static_cast<std::size_t>(in.tellg());
    in.seekg(0);
    std::vector<char> text(length);
    in.read(text.data(), static_cast<std::streamsize>(length));
    if (!in) {
        std::fprintf(stderr, "%s: cannot read\n", path);
        std::exit(2);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s IMAGE_TEXT FLAT_IMAGE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc == 4 ? std::max(1, std::atoi(argv[3])) : 1;
    const std::vector<char> text = readText(argv[1]);
    std::vector<std::uint8_t> image(CONCAT_BUFFER_SIZE + 16, 0);
    gDataConcatenated = image.data();

    double best = 0;
    for (int run = 0; run < runs; ++run) {
        std::vector<char> workingCopy(text.size() + 16, '\0');
        std::copy(text.begin(), text.end(), workingCopy.begin());
        const auto start = std::chrono::steady_clock::now();
        const int assembled = ValidateFwAndConcatenateData(workingCopy.data());
        computeDataConcatenatedCheckSum();
        const auto stop = std::chrono::steady_clock::now();
        if (assembled == 0) {
            std::fprintf(stderr, "%s: assembly failed\n", argv[1]);
            return 1;
        }
        const double ms = std::chrono::duration<double, std::milli>(stop - start).count();
        best = run == 0 ? ms : std::min(best, ms);
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), gDataConcatenatedLenght);
    if (!out) {
        std::fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 2;
    }
    std::printf("length %d checksum %u assembly+checksum %.3f ms\n", gDataConcatenatedLenght,
                gDataConcatenatedCheckSum, best);
    return 0;
}
