#include "IntelHex.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "StringOperations.h"

namespace {

// Character positions of the fields of a record line.
constexpr std::size_t BYTE_COUNT_POSITION = 1;
constexpr std::size_t ADDRESS_POSITION = 3;
constexpr std::size_t TYPE_DIGIT_POSITION = 8;
constexpr std::size_t DATA_POSITION = 9;
// Start code, byte count, address, type and checksum: a record without data.
constexpr std::size_t SHORTEST_RECORD_LINE = 11;
// Byte count, two address bytes and the type precede the data in the sum.
constexpr int HEADER_BYTES = 4;

// Length of `text`, measured no further than `limit` characters.
std::size_t boundedLength(const char* text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') {
        ++length;
    }
    return length;
}

// The byte whose digits start at `position`. Positions beyond the end of the
// line are not read and count as missing digits, so a short line gives a
// meaningless value but never a read outside it.
std::uint8_t byteAt(const char* line, std::size_t position) {
    if (boundedLength(line, position) < position) {
        return 0;
    }
    return u8_from_hex_string(line + position);
}

}  // namespace

std::uint8_t intel_hex_start_code_present(const char* intelHexString) {
    return intelHexString[0] == ':' ? 1 : 0;
}

std::uint8_t intel_hex_line_data_length(const char* intelHexString) {
    return byteAt(intelHexString, BYTE_COUNT_POSITION);
}

std::uint16_t intel_hex_line_address(const char* intelHexString) {
    if (intel_hex_line_is_valid(intelHexString) != INTEL_HEX_STRING_OK) {
        return 0;
    }
    return intel_hex_record_from_valid_line(intelHexString).address;
}

// Only the second type digit is read; a missing digit reads as NUL.
std::uint8_t intel_hex_line_record_type(const char* intelHexString) {
    const bool present =
        boundedLength(intelHexString, TYPE_DIGIT_POSITION + 1) > TYPE_DIGIT_POSITION;
    const char digit = present ? intelHexString[TYPE_DIGIT_POSITION] : '\0';
    return static_cast<std::uint8_t>(digit - '0');
}

std::uint8_t intel_hex_line_is_data_record(const char* intelHexString) {
    return intel_hex_line_record_type(intelHexString) == INTEL_HEX_RECORD_DATA ? 1 : 0;
}

std::uint8_t intel_hex_line_is_extended_linear_address_record(const char* intelHexString) {
    return intel_hex_line_record_type(intelHexString) == INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS
               ? 1
               : 0;
}

// The expected checksum is taken from the last two characters of the line;
// a line too short to hold its byte count's data is invalid.
std::uint8_t intel_hex_line_is_valid(const char* intelHexString) {
    if (intel_hex_start_code_present(intelHexString) == 0) {
        return INTEL_HEX_STRING_INVALID;
    }
    const std::size_t length = std::strlen(intelHexString);
    if (length < SHORTEST_RECORD_LINE) {
        return INTEL_HEX_STRING_INVALID;
    }
    const std::uint8_t byteCount = byteAt(intelHexString, BYTE_COUNT_POSITION);
    if (length < SHORTEST_RECORD_LINE + 2 * std::size_t{byteCount}) {
        return INTEL_HEX_STRING_INVALID;
    }
    const std::uint8_t expected = u8_from_hex_string(intelHexString + length - 2);
    const std::uint8_t computed =
        u8_checksum_from_hex_string(intelHexString + BYTE_COUNT_POSITION, byteCount + HEADER_BYTES);
    return computed == expected ? INTEL_HEX_STRING_OK : INTEL_HEX_STRING_INVALID;
}

std::uint8_t* new_u8_data_array_from_intel_hex_string(const char* intelHexString) {
    if (intel_hex_line_is_valid(intelHexString) != INTEL_HEX_STRING_OK) {
        return nullptr;
    }
    const IntelHexRecord record = intel_hex_record_from_valid_line(intelHexString);
    // One byte at least, so that a record without data still gives an array.
    auto* data =
        static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(record.dataLength, 1)));
    if (data != nullptr) {
        std::memcpy(data, record.data, record.dataLength);
    }
    return data;
}

IntelHexRecord intel_hex_record_from_valid_line(const char* intelHexString) {
    IntelHexRecord record;
    record.dataLength = intel_hex_line_data_length(intelHexString);
    record.address = static_cast<std::uint16_t>(256 * byteAt(intelHexString, ADDRESS_POSITION) +
                                                byteAt(intelHexString, ADDRESS_POSITION + 2));
    record.recordType = intel_hex_line_record_type(intelHexString);
    // A valid line holds every data digit; a line that is not valid may end
    // early, and its missing bytes read as 0.
    const std::size_t length =
        boundedLength(intelHexString, DATA_POSITION + 2 * std::size_t{record.dataLength});
    const std::size_t present = length > DATA_POSITION ? (length - DATA_POSITION) / 2 : 0;
    const std::size_t count = std::min<std::size_t>(record.dataLength, present);
    for (std::size_t i = 0; i < count; ++i) {
        record.data[i] = u8_from_hex_string(intelHexString + DATA_POSITION + 2 * i);
    }
    std::fill(record.data + count, record.data + record.dataLength, 0);
    return record;
}

// Stops at the end of the text: digits that are not there add nothing.
std::uint8_t u8_checksum_from_hex_string(const char* hexString, int numberOfBytes) {
    std::uint8_t sum = 0;
    const char* pair = hexString;
    for (int i = 0; i < numberOfBytes; ++i, pair += 2) {
        sum = static_cast<std::uint8_t>(sum - u8_from_hex_string(pair));
        if (pair[0] == '\0' || pair[1] == '\0') {
            break;
        }
    }
    return sum;
}
