// The value of a hexadecimal digit as the record syntax defines it, any other
// character counting 0: the reference the targets compare the helpers with.
#ifndef VENDRA_FUZZ_HEXDIGIT_H
#define VENDRA_FUZZ_HEXDIGIT_H

#include <cstdint>

namespace fuzz {

constexpr std::uint8_t hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return 0;
}

}  // namespace fuzz

#endif
