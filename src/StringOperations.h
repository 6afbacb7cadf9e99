// Character-level tools for record lines: hexadecimal digits and bytes, and an
// in-place splitter.
#ifndef VENDRA_STRINGOPERATIONS_H
#define VENDRA_STRINGOPERATIONS_H

#include <cstdint>

std::uint8_t int_from_hex_char(char aChar);
std::uint8_t u8_from_hex_string(const char* inputString);
// Splits `s` in place at the characters of `ct`; the caller releases the
// returned table with free().
char** str_split(char* s, const char* ct);
char capitalizeChar(char character);
std::uint8_t u8_array_from_hex_string(std::uint8_t* outputArray, std::uint32_t arraySize,
                                      const char* inputString);

#endif
