// The Base64 codec. The input is decoded as text, and encoded then decoded
// as bytes.
//
// What must hold: encoding gives 4 characters per started group of 3 bytes
// and a NUL, and decoding that gives back the input; a decoded canonical
// text re-encodes to the same text; a failure or a buffer too small writes
// nothing; a success writes no more than the room it asked for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Encoder.h"
#include "FuzzCheck.h"

namespace {

constexpr std::uint8_t CANARY = 0xA5;
constexpr int SPARE = 8;
constexpr std::string_view ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool untouchedFrom(const std::vector<std::uint8_t>& buffer, std::size_t from) {
    return std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end(),
                       [](std::uint8_t b) { return b == CANARY; });
}

// Alphabet characters in groups of four, "=" only to pad the last group,
// and pad bits that are zero: the only text that encodes some bytes.
bool canonical(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) {
        return false;
    }
    const std::size_t pads = text.size() - text.find_last_not_of('=') - 1;
    if (pads > 2) {
        return false;
    }
    const std::string_view data = text.substr(0, text.size() - pads);
    if (data.find_first_not_of(ALPHABET) != std::string_view::npos) {
        return false;
    }
    const std::size_t last = ALPHABET.find(data.back());
    const std::size_t padBits = pads == 2 ? 0x0F : pads == 1 ? 0x03 : 0;
    return (last & padBits) == 0;
}

void roundTrip(const std::uint8_t* data, int size) {
    const int encodedLength = (size + 2) / 3 * 4;
    int needed = 0;
    std::vector<std::uint8_t> text(static_cast<std::size_t>(encodedLength + 1 + SPARE), CANARY);
    const int tooSmall = base64_encode(text.data(), &needed, data, size);
    if (size == 0) {
        require(tooSmall == 0 && needed == 0 && untouchedFrom(text, 0),
                "encoding nothing writes nothing");
        return;
    }
    require(tooSmall == -1 && needed == encodedLength + 1 && untouchedFrom(text, 0),
            "a buffer too small is refused with the room needed, untouched");

    int length = needed;
    require(base64_encode(text.data(), &length, data, size) == 0, "encoding succeeds");
    require(length == encodedLength && text[static_cast<std::size_t>(length)] == 0 &&
                untouchedFrom(text, static_cast<std::size_t>(length) + 1),
            "4 characters per started group of 3 bytes, then a NUL");

    std::vector<std::uint8_t> back(static_cast<std::size_t>(size + 2 + SPARE), CANARY);
    int backLength = size + 2;
    require(base64_decode(back.data(), &backLength, text.data(), length) == 0 &&
                backLength == size && std::equal(data, data + size, back.begin()),
            "decoding an encoding gives back the bytes");
}

void decodeText(const std::uint8_t* data, int size) {
    const int capacity = size;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(capacity + SPARE), CANARY);
    int length = capacity;
    const int result = base64_decode(out.data(), &length, data, size);
    if (result != 0) {
        require(result == -1, "the result is 0 or -1");
        require(untouchedFrom(out, 0), "a refused text writes nothing");
        return;
    }
    require(
        length >= 0 && length <= capacity && untouchedFrom(out, static_cast<std::size_t>(length)),
        "a decoding writes only the bytes it reports");

    const std::string_view text(reinterpret_cast<const char*>(data),
                                static_cast<std::size_t>(size));
    if (!canonical(text)) {
        return;
    }
    std::vector<std::uint8_t> again(static_cast<std::size_t>(size + 1), CANARY);
    int againLength = size + 1;
    require(base64_encode(again.data(), &againLength, out.data(), length) == 0 &&
                againLength == size && std::equal(again.begin(), again.begin() + size, data),
            "a canonical text re-encodes to itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int length = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
    decodeText(data, length);
    roundTrip(data, length);
    return 0;
}
