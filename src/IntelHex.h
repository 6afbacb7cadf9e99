// Reads one Intel HEX record line (":" ... checksum digits, no line end).
#ifndef VENDRA_INTELHEX_H
#define VENDRA_INTELHEX_H

#include <cstdint>

inline constexpr std::uint8_t INTEL_HEX_STRING_OK = 1;
inline constexpr std::uint8_t INTEL_HEX_STRING_INVALID = 0;

inline constexpr std::uint8_t INTEL_HEX_RECORD_DATA = 0;
inline constexpr std::uint8_t INTEL_HEX_RECORD_EOF = 1;
inline constexpr std::uint8_t INTEL_HEX_RECORD_EXTENDED_SEGMENT_ADDRESS = 2;
inline constexpr std::uint8_t INTEL_HEX_RECORD_START_SEGMENT_ADDRESS = 3;
inline constexpr std::uint8_t INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS = 4;
inline constexpr std::uint8_t INTEL_HEX_RECORD_START_LINEAR_ADDRESS = 5;

// One record line taken apart: its fields and its data bytes in order.
struct IntelHexRecord {
    std::uint8_t dataLength;
    std::uint16_t address;
    std::uint8_t recordType;
    std::uint8_t data[255];
};

std::uint8_t intel_hex_start_code_present(const char* intelHexString);
std::uint8_t intel_hex_line_data_length(const char* intelHexString);
std::uint16_t intel_hex_line_address(const char* intelHexString);
std::uint8_t intel_hex_line_record_type(const char* intelHexString);
std::uint8_t intel_hex_line_is_data_record(const char* intelHexString);
std::uint8_t intel_hex_line_is_extended_linear_address_record(const char* intelHexString);
std::uint8_t intel_hex_line_is_valid(const char* intelHexString);
// Newly obtained array of the record's data bytes (release with free()), or
// null for an invalid line.
std::uint8_t* new_u8_data_array_from_intel_hex_string(const char* intelHexString);
// The fields of a line that intel_hex_line_is_valid has accepted, without
// testing it again; the result for any other line is meaningless, but the
// line is never read beyond its end.
IntelHexRecord intel_hex_record_from_valid_line(const char* intelHexString);
std::uint8_t u8_checksum_from_hex_string(const char* hexString, int numberOfBytes);

#endif
