// Character-level tools for record lines: hexadecimal digits and bytes, and an
// in-place splitter.
#ifndef VENDRA_STRINGOPERATIONS_H
#define VENDRA_STRINGOPERATIONS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace string_operations_detail {

// Character codes 0x80 to 0xFF must compare as negative, whatever the
// signedness of plain char on the target.
constexpr signed char asSigned(char c) {
    return static_cast<signed char>(c);
}

constexpr bool inRange(char c, char first, char last) {
    return asSigned(c) >= first && asSigned(c) <= last;
}

constexpr std::uint8_t digitValue(char c) {
    if (inRange(c, '0', '9')) {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (inRange(c, 'A', 'F')) {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (inRange(c, 'a', 'f')) {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return 0;
}

// Digit values by character code: every record byte passes through here.
inline constexpr std::array<std::uint8_t, 256> DIGIT_VALUES = []() {
    std::array<std::uint8_t, 256> values{};
    for (std::size_t code = 0; code < values.size(); ++code) {
        values[code] = digitValue(static_cast<char>(code));
    }
    return values;
}();

}  // namespace string_operations_detail

// Defined here so that record readers, which call them for every digit pair,
// can inline them.
inline std::uint8_t int_from_hex_char(char aChar) {
    return string_operations_detail::DIGIT_VALUES[static_cast<unsigned char>(aChar)];
}

inline std::uint8_t u8_from_hex_string(const char* inputString) {
    // Only the first two characters matter, so the text is measured no
    // further than that.
    if (inputString[0] != '\0' && inputString[1] != '\0') {
        return static_cast<std::uint8_t>(16 * int_from_hex_char(inputString[0]) +
                                         int_from_hex_char(inputString[1]));
    }
    return int_from_hex_char(inputString[0]);
}

// Splits `s` in place at the characters of `ct`; the caller releases the
// returned table with free().
char** str_split(char* s, const char* ct);
char capitalizeChar(char character);
std::uint8_t u8_array_from_hex_string(std::uint8_t* outputArray, std::uint32_t arraySize,
                                      const char* inputString);

#endif
