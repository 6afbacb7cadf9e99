// Base64 (RFC 4648 standard alphabet, "=" pad). Returns 0 on success, -1 on
// failure; `dlen` carries the capacity in and a size out.
#ifndef VENDRA_ENCODER_H
#define VENDRA_ENCODER_H

#include <cstdint>

int base64_encode(std::uint8_t* dst, int* dlen, const std::uint8_t* src, int slen);
int base64_decode(std::uint8_t* dst, int* dlen, const std::uint8_t* src, int slen);

#endif
