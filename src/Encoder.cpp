#include "Encoder.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

constexpr int BASE64_RESULT_OK = 0;
constexpr int BASE64_RESULT_FAILED = -1;
constexpr std::uint8_t BASE64_PAD = '=';
constexpr std::uint8_t BASE64_PAD_VALUE = 64;
constexpr std::uint8_t BASE64_INVALID = 127;
// 8 x slen must stay within a signed 32-bit integer.
constexpr int BASE64_ENCODE_MAX_INPUT = 268435455;

constexpr std::array<std::uint8_t, 64> base64_enc_map = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

constexpr std::array<std::uint8_t, 128> makeDecodeMap() {
    std::array<std::uint8_t, 128> map{};
    map.fill(BASE64_INVALID);
    for (std::size_t value = 0; value < base64_enc_map.size(); ++value) {
        map[base64_enc_map[value]] = static_cast<std::uint8_t>(value);
    }
    map[BASE64_PAD] = BASE64_PAD_VALUE;
    return map;
}

constexpr std::array<std::uint8_t, 128> base64_dec_map = makeDecodeMap();

constexpr bool isCrLfAt(const std::uint8_t* src, int slen, int i) {
    return slen - i >= 2 && src[i] == '\r' && src[i + 1] == '\n';
}

std::uint8_t encodeSextet(std::uint32_t group, int shift) {
    return base64_enc_map[(group >> shift) & 0x3F];
}

}  // namespace

int base64_encode(std::uint8_t* dst, int* dlen, const std::uint8_t* src, int slen) {
    if (slen == 0) {
        return BASE64_RESULT_OK;
    }
    if (slen < 0 || slen > BASE64_ENCODE_MAX_INPUT) {
        return BASE64_RESULT_FAILED;
    }

    int n = (8 * slen) / 6;
    switch (8 * slen - 6 * n) {
        case 2:
            n += 3;
            break;
        case 4:
            n += 2;
            break;
        default:
            break;
    }
    if (*dlen < n + 1) {
        *dlen = n + 1;
        return BASE64_RESULT_FAILED;
    }

    std::uint8_t* out = dst;
    const int whole = (slen / 3) * 3;
    for (int i = 0; i < whole; i += 3) {
        const std::uint32_t group =
            (std::uint32_t{src[i]} << 16) | (std::uint32_t{src[i + 1]} << 8) | src[i + 2];
        *out++ = encodeSextet(group, 18);
        *out++ = encodeSextet(group, 12);
        *out++ = encodeSextet(group, 6);
        *out++ = encodeSextet(group, 0);
    }
    const int rest = slen - whole;
    if (rest > 0) {
        std::uint32_t group = std::uint32_t{src[whole]} << 16;
        if (rest == 2) {
            group |= std::uint32_t{src[whole + 1]} << 8;
        }
        *out++ = encodeSextet(group, 18);
        *out++ = encodeSextet(group, 12);
        *out++ = rest == 2 ? encodeSextet(group, 6) : BASE64_PAD;
        *out++ = BASE64_PAD;
    }
    *out = '\0';
    *dlen = n;
    return BASE64_RESULT_OK;
}

int base64_decode(std::uint8_t* dst, int* dlen, const std::uint8_t* src, int slen) {
    int n = 0;
    int pads = 0;
    for (int i = 0; i < slen; ++i) {
        if (isCrLfAt(src, slen, i) || src[i] == '\n') {
            continue;
        }
        if (src[i] == BASE64_PAD && ++pads > 2) {
            return BASE64_RESULT_FAILED;
        }
        if (src[i] >= base64_dec_map.size() || base64_dec_map[src[i]] == BASE64_INVALID) {
            return BASE64_RESULT_FAILED;
        }
        if (base64_dec_map[src[i]] < BASE64_PAD_VALUE && pads != 0) {
            return BASE64_RESULT_FAILED;
        }
        ++n;
    }
    if (n == 0) {
        return BASE64_RESULT_OK;
    }

    const auto estimate = static_cast<int>((6 * std::int64_t{n} + 7) / 8);
    if (*dlen < estimate) {
        *dlen = estimate;
        return BASE64_RESULT_FAILED;
    }

    int bytesPerGroup = 3;
    int inGroup = 0;
    std::uint32_t group = 0;
    std::uint8_t* out = dst;
    for (int i = 0; i < slen; ++i) {
        if (src[i] == '\r' || src[i] == '\n') {
            continue;
        }
        const std::uint8_t value = base64_dec_map[src[i]];
        if (value == BASE64_PAD_VALUE) {
            --bytesPerGroup;
        }
        group = (group << 6) | (value & 0x3F);
        if (++inGroup == 4) {
            inGroup = 0;
            *out++ = static_cast<std::uint8_t>(group >> 16);
            if (bytesPerGroup > 1) {
                *out++ = static_cast<std::uint8_t>(group >> 8);
            }
            if (bytesPerGroup > 2) {
                *out++ = static_cast<std::uint8_t>(group);
            }
        }
    }
    *dlen = static_cast<int>(out - dst);
    return BASE64_RESULT_OK;
}
