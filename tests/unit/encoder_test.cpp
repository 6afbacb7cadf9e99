#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Encoder.h"

namespace {

constexpr std::uint8_t kUntouched = 0xEE;
constexpr int kLargeCapacity = 64;

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

struct CodecCall {
    int result;
    int dlen;
    std::vector<std::uint8_t> dst;
};

CodecCall encode(std::string_view input, int capacity) {
    const std::vector<std::uint8_t> src = bytesOf(input);
    CodecCall call{0, capacity, std::vector<std::uint8_t>(kLargeCapacity, kUntouched)};
    call.result =
        base64_encode(call.dst.data(), &call.dlen, src.data(), static_cast<int>(src.size()));
    return call;
}

CodecCall decode(std::string_view input, int capacity) {
    const std::vector<std::uint8_t> src = bytesOf(input);
    CodecCall call{0, capacity, std::vector<std::uint8_t>(kLargeCapacity, kUntouched)};
    call.result =
        base64_decode(call.dst.data(), &call.dlen, src.data(), static_cast<int>(src.size()));
    return call;
}

// The first `count` bytes of `dst`, then a check that the rest kept its fill.
std::string written(const CodecCall& call, std::size_t count) {
    for (std::size_t i = count; i < call.dst.size(); ++i) {
        EXPECT_EQ(call.dst[i], kUntouched) << "byte " << i << " was written";
    }
    return {call.dst.begin(), call.dst.begin() + static_cast<std::ptrdiff_t>(count)};
}

struct EncodeCase {
    std::string_view input;
    int capacity;
    int result;
    int dlen;
    std::string_view output;  // with its NUL when the call succeeds
};

TEST(Base64Encode, VectorsCapacitiesAndEmptyInput) {
    using namespace std::string_view_literals;
    const EncodeCase cases[] = {
        {"f", kLargeCapacity, 0, 4, "Zg==\0"sv},
        {"fo", kLargeCapacity, 0, 4, "Zm8=\0"sv},
        {"foo", kLargeCapacity, 0, 4, "Zm9v\0"sv},
        {"foob", kLargeCapacity, 0, 8, "Zm9vYg==\0"sv},
        {"fooba", kLargeCapacity, 0, 8, "Zm9vYmE=\0"sv},
        {"foobar", kLargeCapacity, 0, 8, "Zm9vYmFy\0"sv},
        {"\xFF\xFE\xFD", kLargeCapacity, 0, 4, "//79\0"sv},
        {"\x00\x10\x83"sv, kLargeCapacity, 0, 4, "ABCD\0"sv},
        {"abc", 4, -1, 5, ""},
        {"abc", 5, 0, 4, "YWJj\0"sv},
        {"abcd", 8, -1, 9, ""},
        {"", kLargeCapacity, 0, kLargeCapacity, ""},
        {"", 0, 0, 0, ""},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "input of " << c.input.size() << " bytes, capacity " << c.capacity);
        const CodecCall call = encode(c.input, c.capacity);
        EXPECT_EQ(call.result, c.result);
        EXPECT_EQ(call.dlen, c.dlen);
        EXPECT_EQ(written(call, c.output.size()), c.output);
    }
}

TEST(Base64Encode, LengthIsFourPerStartedGroupOfThree) {
    std::vector<std::uint8_t> src(700, 0x5A);
    std::vector<std::uint8_t> dst(1000);
    for (int slen = 1; slen <= 700; ++slen) {
        int dlen = static_cast<int>(dst.size());
        ASSERT_EQ(base64_encode(dst.data(), &dlen, src.data(), slen), 0);
        EXPECT_EQ(dlen, 4 * ((slen + 2) / 3)) << slen;
        EXPECT_EQ(dst[static_cast<std::size_t>(dlen)], 0) << slen;
    }
}

TEST(Base64Encode, RoundTripOfEveryByteValue) {
    std::array<std::uint8_t, 256> src{};
    for (std::size_t i = 0; i < src.size(); ++i) {
        src[i] = static_cast<std::uint8_t>(i);
    }
    std::array<std::uint8_t, 400> text{};
    std::array<std::uint8_t, 300> back{};
    for (int slen : {254, 255, 256}) {
        int textLength = static_cast<int>(text.size());
        ASSERT_EQ(base64_encode(text.data(), &textLength, src.data(), slen), 0);
        int backLength = static_cast<int>(back.size());
        ASSERT_EQ(base64_decode(back.data(), &backLength, text.data(), textLength), 0);
        ASSERT_EQ(backLength, slen);
        EXPECT_TRUE(std::equal(src.begin(), src.begin() + slen, back.begin())) << slen;
    }
}

struct DecodeCase {
    std::string_view input;
    int capacity;
    int result;
    int dlen;
    std::string_view output;
};

TEST(Base64Decode, ResultsLengthsAndRejections) {
    using namespace std::string_view_literals;
    const DecodeCase cases[] = {
        {"QUJD", kLargeCapacity, 0, 3, "ABC"},
        {"QUJD\r\nQUJD", kLargeCapacity, 0, 6, "ABCABC"},
        {"QUJD\nQUJD", kLargeCapacity, 0, 6, "ABCABC"},
        {"QUJD\r\n", kLargeCapacity, 0, 3, "ABC"},
        {"Zm9vYmE=", kLargeCapacity, 0, 5, "fooba"},
        {"Zm9vYg==", kLargeCapacity, 0, 4, "foob"},
        {"QQ==", 2, -1, 3, ""},
        {"QQ==", 3, 0, 1, "A"},
        {"QUJD", 2, -1, 3, ""},
        {"QQ", kLargeCapacity, 0, 0, ""},
        {"QQ=", kLargeCapacity, 0, 0, ""},
        {"QUJDQQ", kLargeCapacity, 0, 3, "ABC"},
        {"QQ=\n=", kLargeCapacity, 0, 1, "A"},
        {"QQ=\r\n=", kLargeCapacity, 0, 1, "A"},
        {"QUJD\r", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QU\rJD", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QU JD", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QU\tJD", kLargeCapacity, -1, kLargeCapacity, ""},
        {"Q===", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QQ=A", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QQ==QUJD", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QU*D", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QUJ\x80", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QUJ\xFF", kLargeCapacity, -1, kLargeCapacity, ""},
        {"QU\0D"sv, kLargeCapacity, -1, kLargeCapacity, ""},
        {"", kLargeCapacity, 0, kLargeCapacity, ""},
        {"\r\n", kLargeCapacity, 0, kLargeCapacity, ""},
        {"\n\n\r\n", 0, 0, 0, ""},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "text \"" << c.input << "\", capacity " << c.capacity);
        const CodecCall call = decode(c.input, c.capacity);
        EXPECT_EQ(call.result, c.result);
        EXPECT_EQ(call.dlen, c.dlen);
        EXPECT_EQ(written(call, c.output.size()), c.output);
    }
}

}  // namespace
