// str_split and the hex helpers on arbitrary texts. The first byte says how
// many of the next bytes are delimiters (0 to 3); the rest is the text.
//
// What must hold: the pieces are the longest runs without a delimiter, in
// order, each ended in place by a NUL written over the one delimiter that
// follows it and nothing else changed; a text without a piece gives no
// table; digits, bytes and byte arrays read as the record syntax defines
// them, and nothing is written past an array.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "HexDigit.h"
#include "StringOperations.h"

namespace {

constexpr std::size_t MOST_DELIMITERS = 4;

struct Split {
    std::vector<std::string> pieces;
    std::string textAfter;
};

Split expectedSplit(std::string text, std::string_view delimiters) {
    Split split;
    const auto isDelimiter = [&](char c) { return delimiters.find(c) != std::string_view::npos; };
    std::size_t i = 0;
    while (i < text.size()) {
        if (isDelimiter(text[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && !isDelimiter(text[i])) {
            ++i;
        }
        split.pieces.push_back(text.substr(start, i - start));
        if (i < text.size()) {
            text[i++] = '\0';
        }
    }
    split.textAfter = text;
    return split;
}

void checkSplit(const std::string& text, const std::string& delimiters) {
    const Split expected = expectedSplit(text, delimiters);
    std::vector<char> buffer(text.c_str(), text.c_str() + text.size() + 1);
    char** table = str_split(buffer.data(), delimiters.c_str());
    require(std::string_view(buffer.data(), text.size()) == expected.textAfter,
            "only the delimiter after each piece becomes NUL");
    if (expected.pieces.empty()) {
        require(table == nullptr, "a text without a piece gives no table");
        return;
    }
    require(table != nullptr, "a text with pieces gives a table");
    std::size_t count = 0;
    for (; table[count] != nullptr; ++count) {
        require(count < expected.pieces.size() && table[count] >= buffer.data() &&
                    table[count] < buffer.data() + buffer.size() &&
                    table[count] == expected.pieces[count],
                "the pieces, in order, point into the text");
    }
    require(count == expected.pieces.size(), "every piece, then a null entry");
    std::free(table);
}

void checkHex(const std::string& text) {
    for (const char c : text) {
        require(int_from_hex_char(c) == fuzz::hexDigit(c), "the value of one digit");
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        require(capitalizeChar(c) == upper, "only a to z are capitalised");
    }
    const int expectedByte = text.size() >= 2
                                 ? 16 * fuzz::hexDigit(text[0]) + fuzz::hexDigit(text[1])
                             : text.empty() ? 0
                                            : fuzz::hexDigit(text[0]);
    std::vector<char> exact(text.c_str(), text.c_str() + text.size() + 1);
    require(u8_from_hex_string(exact.data()) == expectedByte, "one byte from two digits");

    const std::uint32_t arraySize = text.empty() ? 0 : static_cast<unsigned char>(text[0]) % 64;
    std::vector<std::uint8_t> array(arraySize, 0);
    const std::size_t needed = (text.size() + 1) / 2;
    const std::uint8_t fitted = u8_array_from_hex_string(array.data(), arraySize, exact.data());
    require(fitted == (needed <= arraySize ? 1 : 0), "the array fits or is refused");
    for (std::size_t k = 0; k < arraySize; ++k) {
        int expected = 0;
        if (fitted == 1 && k < needed) {
            const int low = 2 * k + 1 < text.size() ? fuzz::hexDigit(text[2 * k + 1]) : 0;
            expected = 16 * fuzz::hexDigit(text[2 * k]) + low;
        }
        require(array[k] == expected, "bytes from digit pairs, an odd last digit the high half");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t delimiterCount = std::min<std::size_t>(data[0] % MOST_DELIMITERS, size - 1);
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string delimiters = rest.substr(0, delimiterCount);
    delimiters.resize(std::min(delimiters.size(), delimiters.find('\0')));
    std::string text = rest.substr(delimiterCount);
    text.resize(std::min(text.size(), text.find('\0')));

    checkSplit(text, delimiters);
    checkHex(text);
    return 0;
}
