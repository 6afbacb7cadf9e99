#include "VendraFwUpgrade.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "ComPortAPI.h"
#include "Encoder.h"
#include "FileAPI.h"
#include "IntelHex.h"
#include "Platform.h"
#include "StringOperations.h"

char* gHexFirmware = nullptr;
char* gHexFPGA_Code = nullptr;
std::uint8_t* gDataConcatenated = nullptr;
char* gDataBuffer = nullptr;
std::int32_t gComPortNumber = 0;
std::int32_t gBaudRate = 0;
std::int32_t gDataConcatenatedLenght = 0;
std::uint32_t gDataConcatenatedCheckSum = 0;

void obtainSharedBuffers() {
}

void releaseSharedBuffers() {
}

char* newImageWorkingCopy(int /*catalogueIndex*/) {
    return nullptr;
}

int runVendraFwUpgrade() {
    return 1;
}

void dipsplayLastMessageToUserBeforeExit(const char* /*lastMessage*/) {
}

int detectComPortAndBaudrate() {
    return 0;
}

int updateFirmware() {
    return 0;
}

int sendCommand(const char* /*commandToSend*/, int /*isEchoON*/, int /*validateResponse*/,
                const char* /*expectedResponse*/) {
    return 0;
}

int sendData(const std::uint8_t* /*dataToSend*/, std::int32_t /*dataToSendLength*/,
             int /*validateResponse*/, const char* /*expectedResponse*/) {
    return 0;
}

namespace {

void replaceAll(char* text, std::size_t length, char from, char to) {
    char* const end = text + length;
    for (char* c = text; c < end; ++c) {
        c = static_cast<char*>(std::memchr(c, from, static_cast<std::size_t>(end - c)));
        if (c == nullptr) {
            return;
        }
        *c = to;
    }
}

}  // namespace

// Measured first, so that replacing by NUL does not shorten the walk.
int StrRemoveNL(char* str, char ch) {
    const std::size_t length = std::strlen(str);
    replaceAll(str, length, '\n', ch);
    replaceAll(str, length, '\r', ch);
    return 1;
}

namespace {

// One record line: ":", the record up to its checksum digits, NUL.
constexpr std::size_t HEX_LINE_BUFFER_SIZE = 100;
using HexLine = std::array<char, HEX_LINE_BUFFER_SIZE>;

// Puts ":" and the piece into the line buffer, as much as fits, and cuts the
// line at its line end. False when the record itself (not just what follows
// its line end) is longer than the buffer holds.
bool loadRecordLine(HexLine& line, const char* piece) {
    constexpr std::size_t room = HEX_LINE_BUFFER_SIZE - 2;
    const std::size_t pieceLength = std::strlen(piece);
    const std::size_t copied = pieceLength < room ? pieceLength : room;
    line[0] = ':';
    std::memcpy(line.data() + 1, piece, copied);
    line[copied + 1] = '\0';
    StrRemoveNL(line.data(), '\0');
    if (pieceLength <= room || piece[room] == '\r' || piece[room] == '\n') {
        return true;
    }
    return std::strlen(line.data()) < HEX_LINE_BUFFER_SIZE - 1;
}

void reportRecord(const char* problem, const HexLine& line) {
    platform::consolePrintf("%s\n", problem);
    platform::consoleWrite(line.data());
    platform::consoleWrite("\r\n");
}

void reportInvalidRecord(const HexLine& line) {
    reportRecord("\r\n intel_hex_line_is_valid \r", line);
}

// Field positions of a record line. Once a line has passed the validity
// test its fields are read directly: testing it again for the address and
// the data array, and obtaining that array, is needless work per record.
constexpr std::size_t BYTE_COUNT_POSITION = 1;
constexpr std::size_t ADDRESS_POSITION = 3;
constexpr std::size_t DATA_POSITION = 9;

std::uint8_t lineByte(const HexLine& line, std::size_t position) {
    return u8_from_hex_string(line.data() + position);
}

std::uint8_t dataLength(const HexLine& line) {
    return lineByte(line, BYTE_COUNT_POSITION);
}

// Sets the address base from data byte 1; false for a record without the two
// address bytes.
bool applyExtendedLinearAddress(const HexLine& line, std::uint32_t& memoryOffset) {
    if (dataLength(line) < 2) {
        return false;
    }
    memoryOffset = std::uint32_t{lineByte(line, DATA_POSITION + 2)} << 16;
    return true;
}

// Copies the record's bytes to their place; false when any of them, or the
// length it sets, would lie beyond the image buffer.
bool placeDataRecord(const HexLine& line, std::uint32_t memoryOffset) {
    const std::uint32_t address = memoryOffset + 256 * lineByte(line, ADDRESS_POSITION) +
                                  lineByte(line, ADDRESS_POSITION + 2);
    const std::uint8_t length = dataLength(line);
    if (address + length > static_cast<std::uint32_t>(CONCAT_BUFFER_SIZE)) {
        return false;
    }
    std::uint8_t* destination = gDataConcatenated + address;
    for (std::size_t i = 0; i < length; ++i) {
        destination[i] = lineByte(line, DATA_POSITION + 2 * i);
    }
    gDataConcatenatedLenght = static_cast<std::int32_t>(address);
    return true;
}

// Places one record; false (after reporting it) when it fails the assembly.
bool assembleRecord(const char* piece, std::uint32_t& memoryOffset) {
    HexLine line;
    const bool fits = loadRecordLine(line, piece);
    if (!fits || intel_hex_line_is_valid(line.data()) != INTEL_HEX_STRING_OK) {
        reportInvalidRecord(line);
        return false;
    }
    const std::uint8_t type = intel_hex_line_record_type(line.data());
    if (type == INTEL_HEX_RECORD_EXTENDED_LINEAR_ADDRESS &&
        !applyExtendedLinearAddress(line, memoryOffset)) {
        reportInvalidRecord(line);
        return false;
    }
    if (type == INTEL_HEX_RECORD_DATA && !placeDataRecord(line, memoryOffset)) {
        reportRecord("\r\n data record beyond the image buffer \r", line);
        return false;
    }
    return true;
}

}  // namespace

int ValidateFwAndConcatenateData(char* gHexData) {
    std::memset(gDataConcatenated, 0xFF, CONCAT_BUFFER_SIZE);
    gDataConcatenatedLenght = 0;
    std::uint32_t memoryOffset = 0;

    char** extractedHexLine = str_split(gHexData, ":");
    if (extractedHexLine == nullptr) {
        platform::consoleWrite("\r\nNUL extractedHexLine \r\n");
        return 0;
    }
    int result = 1;
    for (std::size_t index = 0; extractedHexLine[index] != nullptr; ++index) {
        if (!assembleRecord(extractedHexLine[index], memoryOffset)) {
            result = 0;
            break;
        }
    }
    std::free(extractedHexLine);
    return result;
}

// Subtracting each byte equals subtracting their sum, modulo 2^32; the sum is
// taken in fixed-size blocks, which the compiler turns into vector code.
std::uint32_t computeDataConcatenatedCheckSum() {
    constexpr std::size_t BLOCK = 64;
    const std::size_t length =
        gDataConcatenatedLenght > 0 ? static_cast<std::size_t>(gDataConcatenatedLenght) : 0;
    const std::uint8_t* bytes = gDataConcatenated;
    std::uint32_t sum = 0;
    std::size_t position = 0;
    for (; position + BLOCK <= length; position += BLOCK) {
        for (std::size_t i = 0; i < BLOCK; ++i) {
            sum += bytes[position + i];
        }
    }
    for (; position < length; ++position) {
        sum += bytes[position];
    }
    gDataConcatenatedCheckSum = 0u - sum;
    return gDataConcatenatedCheckSum;
}

std::uint8_t createFirmwareFileForWeb() {
    return 0;
}
