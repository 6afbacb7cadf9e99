#include "StringOperations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TableDeleter {
    void operator()(char** table) const { std::free(table); }
};
using SplitTable = std::unique_ptr<char*, TableDeleter>;

std::vector<std::string> pieces(char** table) {
    std::vector<std::string> result;
    for (std::size_t i = 0; table[i] != nullptr; ++i) {
        result.emplace_back(table[i]);
    }
    return result;
}

TEST(HexDigits, DigitValueOfEveryKindOfCharacter) {
    struct Case {
        char character;
        int value;
    };
    const Case cases[] = {
        {'0', 0},
        {'9', 9},
        {'A', 10},
        {'F', 15},
        {'a', 10},
        {'f', 15},
        {'G', 0},
        {'g', 0},
        {':', 0},
        {'\0', 0},
        {'\r', 0},
        {'\n', 0},
        {'/', 0},
        {'@', 0},
        {'`', 0},
        {' ', 0},
        // Codes 0x80 to 0xFF whose low seven bits are digits or letters.
        {static_cast<char>(0xB5), 0},
        {static_cast<char>(0xC1), 0},
        {static_cast<char>(0xE6), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(int_from_hex_char(c.character), c.value) << "character code " << int{c.character};
    }
}

TEST(HexDigits, ByteFromTheFirstTwoCharacters) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"7F", 127}, {"7F0000 and more", 127},
        {"ff", 255}, {"A", 10},
        {"", 0},     {"1G", 16},
        {"GZ", 0},   {"0a", 10},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(u8_from_hex_string(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(HexDigits, ByteReadsNothingBeyondTheTerminator) {
    // Exactly sized on the heap, so that a read past the NUL is caught by the
    // address sanitizer.
    auto single = std::make_unique<char[]>(2);
    single[0] = 'C';
    EXPECT_EQ(u8_from_hex_string(single.get()), 12);
    auto empty = std::make_unique<char[]>(1);
    EXPECT_EQ(u8_from_hex_string(empty.get()), 0);
}

TEST(Splitter, PiecesAndTextAfterTheSplit) {
    struct Case {
        std::string text;
        std::string delimiters;
        std::vector<std::string> pieces;
        std::string textAfter;
    };
    const std::vector<Case> cases = {
        {"abc", ":", {"abc"}, "abc"},
        {"::a::b:", ":", {"a", "b"}, std::string("::a\0:b\0", 7)},
        {"a:b", ":", {"a", "b"}, std::string("a\0b", 3)},
        {"x;y:z", ":;", {"x", "y", "z"}, std::string("x\0y\0z", 5)},
        {":10\r\n:00\r\n",
         ":",
         {"10\r\n", "00\r\n"},
         std::string(":10\r\n\0"
                     "00\r\n",
                     10)},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        SplitTable table{str_split(text.data(), c.delimiters.c_str())};
        ASSERT_NE(table, nullptr) << c.text;
        EXPECT_EQ(pieces(table.get()), c.pieces) << c.text;
        EXPECT_EQ(text, c.textAfter) << c.text;
    }
}

TEST(Splitter, PiecesPointIntoTheText) {
    std::string text = "::a::b:";
    SplitTable table{str_split(text.data(), ":")};
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table.get()[0], text.data() + 2);
    EXPECT_EQ(table.get()[1], text.data() + 5);
    EXPECT_EQ(table.get()[2], nullptr);
}

// The table grows by doubling and must always keep room for the closing null
// entry: counts around each power of two, and the record count of a
// programmable-logic image.
TEST(Splitter, EveryPieceCountEndsWithTheNullEntry) {
    for (std::size_t count : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 132825u}) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            text += ":" + std::to_string(i);
        }
        SplitTable table{str_split(text.data(), ":")};
        ASSERT_NE(table, nullptr);
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_STREQ(table.get()[i], std::to_string(i).c_str()) << count;
        }
        EXPECT_EQ(table.get()[count], nullptr) << count;
    }
}

TEST(Splitter, NothingToSplitGivesNull) {
    std::string onlyDelimiters = ":::";
    std::string empty;
    std::string text = "abc";
    EXPECT_EQ(str_split(onlyDelimiters.data(), ":"), nullptr);
    EXPECT_EQ(onlyDelimiters, ":::");
    EXPECT_EQ(str_split(empty.data(), ":"), nullptr);
    EXPECT_EQ(str_split(nullptr, ":"), nullptr);
    EXPECT_EQ(str_split(text.data(), nullptr), nullptr);
    EXPECT_EQ(text, "abc");
}

TEST(Capitalize, OnlyLowerCaseLettersChange) {
    const std::string from = std::string("azAZ09`{@[:") + static_cast<char>(0xE1);
    const std::string to = std::string("AZAZ09`{@[:") + static_cast<char>(0xE1);
    for (std::size_t i = 0; i < from.size(); ++i) {
        EXPECT_EQ(capitalizeChar(from[i]), to[i]) << i;
    }
}

TEST(HexArray, DigitPairsMakeBytes) {
    struct Case {
        const char* digits;
        std::uint32_t capacity;
        int result;
        std::vector<std::uint8_t> bytes;  // the array afterwards
    };
    const Case cases[] = {
        {"123", 2, 1, {0x12, 0x30}},
        {"abCDef", 3, 1, {0xAB, 0xCD, 0xEF}},
        {"0102", 4, 1, {0x01, 0x02, 0x00, 0x00}},
        {"", 0, 1, {}},
        {"123", 1, 0, {0x00}},
        {"1234", 1, 0, {0x00}},
        {"1G", 1, 1, {0x10}},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> array(c.capacity, 0);
        EXPECT_EQ(u8_array_from_hex_string(array.data(), c.capacity, c.digits), c.result)
            << c.digits;
        EXPECT_EQ(array, c.bytes) << c.digits;
    }
}

}  // namespace
