// The Intel HEX record reader: every accessor on an arbitrary line. The line
// sits in a buffer of exactly its size, so a read past its NUL is caught.
//
// What must hold: a valid line starts with ":", is long enough for its byte
// count, and its bytes sum to 0 modulo 256; the data array is there exactly
// for a valid line and holds its data bytes; the address is 0 for an invalid
// line; the record type is the second type digit; and lower-case digits read
// as upper-case ones.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "HexDigit.h"
#include "IntelHex.h"

namespace {

constexpr std::size_t SHORTEST_RECORD_LINE = 11;
constexpr std::size_t DATA_POSITION = 9;
constexpr std::size_t TYPE_DIGIT_POSITION = 8;
constexpr int HEADER_BYTES = 4;
constexpr int LONGEST_CHECKSUM_RUN = 259;

std::uint8_t byteAt(const std::string& line, std::size_t position) {
    return static_cast<std::uint8_t>(16 * fuzz::hexDigit(line[position]) +
                                     fuzz::hexDigit(line[position + 1]));
}

struct Reading {
    std::uint8_t valid;
    std::uint8_t length;
    std::uint16_t address;
    std::uint8_t type;
    std::vector<std::uint8_t> data;
    bool hasData;
};

// Every accessor on `line`, copied into a buffer of exactly its size.
Reading readAll(const std::string& line) {
    std::vector<char> exact(line.c_str(), line.c_str() + line.size() + 1);
    const char* text = exact.data();
    Reading r{intel_hex_line_is_valid(text),
              intel_hex_line_data_length(text),
              intel_hex_line_address(text),
              intel_hex_line_record_type(text),
              {},
              false};
    require(intel_hex_start_code_present(text) == (line.starts_with(':') ? 1 : 0),
            "the start code is the first character");
    require(intel_hex_line_is_data_record(text) == (r.type == INTEL_HEX_RECORD_DATA ? 1 : 0),
            "a data record is one of type 0");
    require(intel_hex_line_is_extended_linear_address_record(text) ==
                (r.type == INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS ? 1 : 0),
            "an extended linear address record is one of type 4");
    std::uint8_t* data = new_u8_data_array_from_intel_hex_string(text);
    r.hasData = data != nullptr;
    if (data != nullptr) {
        r.data.assign(data, data + r.length);
        std::free(data);
    }
    const int count = line.empty() ? 0 : static_cast<unsigned char>(line[0]) % LONGEST_CHECKSUM_RUN;
    u8_checksum_from_hex_string(text, count);
    return r;
}

void checkValidLine(const std::string& line, const Reading& r) {
    require(line.size() >= SHORTEST_RECORD_LINE + 2 * std::size_t{r.length},
            "a valid line holds the data its byte count names");
    unsigned sum = byteAt(line, line.size() - 2);
    for (int i = 0; i < r.length + HEADER_BYTES; ++i) {
        sum += byteAt(line, 1 + 2 * static_cast<std::size_t>(i));
    }
    require(sum % 256 == 0, "the bytes of a valid line sum to 0");
    require(r.length == byteAt(line, 1), "the byte count is the byte at position 1");
    require(r.address == 256 * byteAt(line, 3) + byteAt(line, 5),
            "the address is the bytes at positions 3 and 5");
    require(r.hasData, "a valid line gives its data array");
    for (std::size_t i = 0; i < r.length; ++i) {
        require(r.data[i] == byteAt(line, DATA_POSITION + 2 * i), "data bytes in order");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string line = input.substr(0, input.find('\0'));
    const Reading r = readAll(line);

    const char typeDigit = line.size() > TYPE_DIGIT_POSITION ? line[TYPE_DIGIT_POSITION] : '\0';
    require(r.type == static_cast<std::uint8_t>(typeDigit - '0'),
            "the record type is the second type digit");
    if (r.valid == INTEL_HEX_STRING_OK) {
        checkValidLine(line, r);
    } else {
        require(r.valid == INTEL_HEX_STRING_INVALID, "validity is OK or INVALID");
        require(r.address == 0, "an invalid line has address 0");
        require(!r.hasData, "an invalid line gives no data array");
    }

    std::string upper = line;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const Reading u = readAll(upper);
    require(
        u.valid == r.valid && u.length == r.length && u.address == r.address && u.data == r.data,
        "lower-case digits read as upper-case ones");
    return 0;
}
