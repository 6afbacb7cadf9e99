#include "StringOperations.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "Console.h"

namespace {

// A single delimiter, the common case, is handled without the general
// character-set searches, which cost more per piece.
bool singleDelimiter(const char* ct) {
    return ct[0] != '\0' && ct[1] == '\0';
}

// The first character at or after `text` that is not a delimiter.
char* startOfPiece(char* text, const char* ct) {
    if (singleDelimiter(ct)) {
        while (*text == ct[0]) {
            ++text;
        }
        return text;
    }
    return text + std::strspn(text, ct);
}

// The delimiter that ends the piece at `piece`, or its terminating NUL.
char* endOfPiece(char* piece, const char* ct) {
    if (singleDelimiter(ct)) {
        char* delimiter = std::strchr(piece, ct[0]);
        return delimiter != nullptr ? delimiter : piece + std::strlen(piece);
    }
    return piece + std::strcspn(piece, ct);
}

// When memory runs out the process ends with this status: nothing was
// uploaded or written, and 0 would pass for a success.
constexpr int OUT_OF_MEMORY_EXIT_STATUS = 1;

// Grows the split table so that one more entry and the closing null fit;
// the process ends when memory runs out.
char** growTable(char** table, std::size_t& size, std::size_t count) {
    if (count + 1 < size) {
        return table;
    }
    size *= 2;
    void* grown = std::realloc(table, size * sizeof(char*));
    if (grown == nullptr) {
        platform::consoleWrite("Memoire insuffisante\n");
        std::free(table);
        std::exit(OUT_OF_MEMORY_EXIT_STATUS);
    }
    return static_cast<char**>(grown);
}

}  // namespace

// Pieces are cut as strtok cuts them; a local cursor stands in for strtok's
// hidden position, which gives the same text afterwards. A text without any
// piece gives null rather than an empty table, so that an image text with no
// record fails instead of assembling to an empty image.
char** str_split(char* s, const char* ct) {
    if (s == nullptr || ct == nullptr) {
        return nullptr;
    }
    char** table = nullptr;
    std::size_t size = 1;
    std::size_t count = 0;
    char* cursor = s;
    for (;;) {
        cursor = startOfPiece(cursor, ct);
        if (*cursor == '\0') {
            break;
        }
        char* piece = cursor;
        cursor = endOfPiece(cursor, ct);
        if (*cursor != '\0') {
            *cursor++ = '\0';
        }
        table = growTable(table, size, count);
        table[count++] = piece;
    }
    if (table != nullptr) {
        table[count] = nullptr;
    }
    return table;
}

char capitalizeChar(char character) {
    if (string_operations_detail::inRange(character, 'a', 'z')) {
        return static_cast<char>(character - 'a' + 'A');
    }
    return character;
}

std::uint8_t u8_array_from_hex_string(std::uint8_t* outputArray, std::uint32_t arraySize,
                                      const char* inputString) {
    const std::size_t digits = std::strlen(inputString);
    if ((digits + 1) / 2 > arraySize) {
        return 0;
    }
    for (std::size_t k = digits; k-- > 0;) {
        const std::uint8_t value = int_from_hex_char(inputString[k]);
        const bool highHalf = k % 2 == 0;
        const int half = highHalf ? value << 4 : value;
        outputArray[k / 2] = static_cast<std::uint8_t>(outputArray[k / 2] + half);
    }
    return 1;
}
