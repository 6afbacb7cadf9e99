// The tests' own reading of image texts, independent of the program's record
// reader and assembler: record lines parsed strictly, and the flat image the
// unit receives. An extended linear address record sets the base from its
// second data byte, data records land at base + address, gaps stay 0xFF, and
// the length is the load offset of the last data record in text order.
#ifndef VENDRA_TESTS_SUPPORT_REFERENCEASSEMBLER_H
#define VENDRA_TESTS_SUPPORT_REFERENCEASSEMBLER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "HexRecords.h"

namespace reference {

inline constexpr std::size_t kImageArea = 4 * 1024 * 1024;

struct Record {
    std::uint8_t type;
    std::uint16_t address;
    std::vector<std::uint8_t> data;
};

inline std::optional<std::uint8_t> upperHexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

// A record line (no line end) written in upper-case hex with a matching byte
// count and checksum; anything else is nullopt.
inline std::optional<Record> parseRecord(std::string_view line) {
    if (line.size() < 11 || line.front() != ':' || line.size() % 2 == 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i < line.size(); i += 2) {
        const auto high = upperHexDigit(line[i]);
        const auto low = upperHexDigit(line[i + 1]);
        if (!high || !low) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
    }
    std::uint8_t sum = 0;
    for (const auto b : bytes) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    if (sum != 0 || bytes[0] + 5u != bytes.size()) {
        return std::nullopt;
    }
    return Record{bytes[3],
                  static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]),
                  {bytes.begin() + 4, bytes.end() - 1}};
}

// The lines of a text, each without its line end (CR LF, or a lone CR or LF);
// empty lines are left out.
inline std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        if (end != 0) {
            lines.push_back(text.substr(0, end));
        }
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

struct FlatImage {
    std::string bytes;  // positions 0 up to the assembled length
    std::uint32_t checksum = 0;
};

inline FlatImage assemble(const std::vector<Record>& records) {
    std::string memory(kImageArea, '\xFF');
    std::size_t base = 0;
    std::size_t length = 0;
    for (const Record& r : records) {
        if (r.type == hex_records::kExtendedLinear) {
            base = std::size_t{r.data.at(1)} << 16;
        } else if (r.type == hex_records::kData) {
            const std::size_t offset = base + r.address;
            if (offset + r.data.size() > kImageArea) {
                throw std::out_of_range("data record beyond the image area");
            }
            std::copy(r.data.begin(), r.data.end(), memory.begin() + static_cast<long>(offset));
            length = offset;
        }
    }
    FlatImage image;
    image.bytes = memory.substr(0, length);
    for (const char c : image.bytes) {
        image.checksum -= static_cast<unsigned char>(c);
    }
    return image;
}

// A whole image text; a line that is no valid record throws.
inline FlatImage assemble(std::string_view text) {
    std::vector<Record> records;
    for (const std::string_view line : linesOf(text)) {
        const auto record = parseRecord(line);
        if (!record) {
            throw std::invalid_argument("not a record line: " + std::string(line));
        }
        records.push_back(*record);
    }
    return assemble(records);
}

}  // namespace reference

#endif
