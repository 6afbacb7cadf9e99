// Inputs at and beyond the ranges the units accept: Base64 input lengths the
// encoder cannot size, COM numbers beyond int in a device path, ports that
// are gone, and the byte escapes of transcripts and reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ComPortAPI.h"
#include "Encoder.h"
#include "Platform.h"
#include "PortPath.h"
#include "SimPlatform.h"

namespace {

namespace sim = platform::sim;

// 8 x slen must fit in an int: from 268,435,456 bytes on the encoder cannot
// size its output, and a negative count names no input at all.
TEST(EncoderInputRange, LengthsItCannotSizeAreRefusedWithoutReadingOrWriting) {
    constexpr std::uint8_t kUntouched = 0xEE;
    const std::array<std::uint8_t, 3> source{'a', 'b', 'c'};
    for (const int slen : {-1, INT_MIN, 268'435'456, INT_MAX}) {
        std::vector<std::uint8_t> dst(16, kUntouched);
        int dlen = static_cast<int>(dst.size());
        // The source holds 3 bytes: a read of more would be caught by the
        // sanitizer build.
        EXPECT_EQ(base64_encode(dst.data(), &dlen, source.data(), slen), -1) << slen;
        EXPECT_TRUE(std::ranges::all_of(dst, [](std::uint8_t b) { return b == kUntouched; }))
            << slen;
    }
}

struct PathCase {
    std::string_view path;
    std::optional<int> number;
};

// A number beyond int names no port: it must not wrap round to a port that
// exists ("4294967297" is COM1 modulo 2^32).
TEST(ComPortPath, OnlyPlainDecimalNumbersWithinIntNamePorts) {
    const std::vector<PathCase> cases{
        {"\\\\.\\COM1", 1},
        {"\\\\.\\COM32", 32},
        {"\\\\.\\COM2147483647", INT_MAX},
        {"\\\\.\\COM2147483648", std::nullopt},
        {"\\\\.\\COM4294967297", std::nullopt},
        {"\\\\.\\COM99999999999999999999", std::nullopt},
        {"\\\\.\\COM0", 0},
        {"\\\\.\\COM01", std::nullopt},
        {"\\\\.\\COM-1", std::nullopt},
        {"\\\\.\\COM+1", std::nullopt},
        {"\\\\.\\COM", std::nullopt},
        {"\\\\.\\COM3x", std::nullopt},
        {"COM3", std::nullopt},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(platform::comPortNumberFromPath(c.path), c.number) << c.path;
    }
}

// Every caller builds the path of COM n with this one function.
TEST(ComPortPath, ThePathOfEveryPortIsThePlainForm) {
    const std::vector<PathCase> cases{
        {"\\\\.\\COM1", 1},
        {"\\\\.\\COM32", 32},
        {"\\\\.\\COM2147483647", INT_MAX},
        {"\\\\.\\COM-5", -5},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(platform::comPortPath(*c.number), c.path);
    }
}

TEST(SimulatedPorts, ARemovedPortCannotBeOpened) {
    sim::reset();
    ComPortAPI_RestoreInitialState();
    sim::addSilentPort(4);
    ASSERT_EQ(ComPortAPI_OpenCOM(4), 1);
    ComPortAPI_CloseCOM();
    sim::removePort(4);
    EXPECT_EQ(ComPortAPI_OpenCOM(4), 0);
    EXPECT_FALSE(sim::openPortLine(4).has_value());
    sim::reset();
    ComPortAPI_RestoreInitialState();
}

// Each byte a reader could not otherwise see, or that would end a quoted
// text, is written as its escape.
TEST(ByteEscapes, ControlBytesQuotesAndBackslashesAreEscaped) {
    EXPECT_EQ(sim::escape(std::string_view("\n\r\b\t\"\\", 6)), R"(\n\r\b\t\"\\)");
    EXPECT_EQ(sim::escape(std::string_view("a\0\x1b\x7f\xff", 5)), R"(a\x00\x1b\x7f\xff)");
}

}  // namespace
