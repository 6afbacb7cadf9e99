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

int StrRemoveNL(char* str, char ch) {
    for (char* c = str; *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\r') {
            *c = ch;
        }
    }
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
    line[0] = ':';
    std::size_t length = 1;
    for (; length < line.size() - 1 && piece[length - 1] != '\0'; ++length) {
        line[length] = piece[length - 1];
    }
    line[length] = '\0';
    StrRemoveNL(line.data(), '\0');
    const char next = piece[length - 1];
    const bool lineContinues = next != '\0' && next != '\r' && next != '\n';
    return !(lineContinues && std::strlen(line.data()) == length);
}

void reportRecord(const char* problem, const HexLine& line) {
    platform::consolePrintf("%s\n", problem);
    platform::consoleWrite(line.data());
    platform::consoleWrite("\r\n");
}

void reportInvalidRecord(const HexLine& line) {
    reportRecord("\r\n intel_hex_line_is_valid \r", line);
}

// Sets the address base; false for a record without the two address bytes.
bool applyExtendedLinearAddress(const HexLine& line, std::uint32_t& memoryOffset) {
    if (intel_hex_line_data_length(line.data()) < 2) {
        return false;
    }
    std::uint8_t* data = new_u8_data_array_from_intel_hex_string(line.data());
    if (data != nullptr) {
        memoryOffset = static_cast<std::uint32_t>(data[1]) << 16;
        std::free(data);
    }
    return true;
}

// Copies the record's bytes to their place; false when any of them, or the
// length it sets, would lie beyond the image buffer.
bool placeDataRecord(const HexLine& line, std::uint32_t memoryOffset) {
    const std::uint32_t address = memoryOffset + intel_hex_line_address(line.data());
    const std::uint8_t dataLength = intel_hex_line_data_length(line.data());
    if (address + dataLength > static_cast<std::uint32_t>(CONCAT_BUFFER_SIZE)) {
        return false;
    }
    std::uint8_t* data = new_u8_data_array_from_intel_hex_string(line.data());
    if (data != nullptr) {
        std::memcpy(gDataConcatenated + address, data, dataLength);
        gDataConcatenatedLenght = static_cast<std::int32_t>(address);
        std::free(data);
    }
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
    if (intel_hex_line_is_extended_linear_address_record(line.data()) != 0 &&
        !applyExtendedLinearAddress(line, memoryOffset)) {
        reportInvalidRecord(line);
        return false;
    }
    if (intel_hex_line_is_data_record(line.data()) != 0 && !placeDataRecord(line, memoryOffset)) {
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

std::uint32_t computeDataConcatenatedCheckSum() {
    std::uint32_t checkSum = 0;
    for (std::int32_t position = 0; position < gDataConcatenatedLenght; ++position) {
        checkSum -= gDataConcatenated[position];
    }
    gDataConcatenatedCheckSum = checkSum;
    return checkSum;
}

std::uint8_t createFirmwareFileForWeb() {
    return 0;
}
