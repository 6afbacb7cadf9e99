// Intel HEX record lines built from the record rules, for test image texts:
// upper-case digits, the checksum computed here.
#ifndef VENDRA_TESTS_SUPPORT_HEXRECORDS_H
#define VENDRA_TESTS_SUPPORT_HEXRECORDS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace hex_records {

inline constexpr std::uint8_t kData = 0;
inline constexpr std::uint8_t kEof = 1;
inline constexpr std::uint8_t kExtendedLinear = 4;
inline constexpr std::uint8_t kStartLinear = 5;

inline const std::string kEndOfFile = ":00000001FF\r\n";

inline std::string hexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

// One record line with its checksum; `data` may hold up to 255 bytes.
inline std::string record(std::uint8_t type, std::uint16_t address,
                          const std::vector<std::uint8_t>& data,
                          std::string_view lineEnd = "\r\n") {
    const unsigned count = static_cast<unsigned>(data.size());
    unsigned sum = count + (address >> 8) + address + type;
    std::string line =
        ":" + hexByte(count) + hexByte(address >> 8) + hexByte(address) + hexByte(type);
    for (const std::uint8_t byte : data) {
        line += hexByte(byte);
        sum += byte;
    }
    return line + hexByte(0x100u - (sum & 0xFFu)) + std::string(lineEnd);
}

inline std::string dataRecord(std::uint16_t address, const std::vector<std::uint8_t>& data,
                              std::string_view lineEnd = "\r\n") {
    return record(kData, address, data, lineEnd);
}

inline std::string extendedLinearAddress(std::uint8_t high, std::uint8_t low) {
    return record(kExtendedLinear, 0, {high, low});
}

}  // namespace hex_records

#endif
