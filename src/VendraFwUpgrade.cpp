#include "VendraFwUpgrade.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

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

int StrRemoveNL(char* /*str*/, char /*ch*/) {
    return 1;
}

int ValidateFwAndConcatenateData(char* /*gHexData*/) {
    return 0;
}

std::uint32_t computeDataConcatenatedCheckSum() {
    return 0;
}

namespace {

constexpr char FIRMWARE_FILE_NAME_FOR_WEB[] = "FwToUpload.bin";
// Room for the encoding of an image of up to 460,797 bytes and its NUL.
constexpr int FIRMWARE_BASE64_BUFFER_SIZE_FOR_WEB = 614400;
constexpr int FIRMWARE_BASE64_PAD_SEARCH_FOR_WEB = 4;
constexpr int FILE_BINARY_MODE = 1;

// The body without its pad characters, so that it holds alphabet
// characters only; empty for an empty image or a failed encoding.
struct WebBody {
    std::vector<std::uint8_t> text;
    int length = 0;
    bool encoded = false;
};

WebBody encodeImageForWeb() {
    WebBody body{std::vector<std::uint8_t>(FIRMWARE_BASE64_BUFFER_SIZE_FOR_WEB)};
    if (gDataConcatenatedLenght == 0) {
        body.encoded = true;
        return body;
    }
    int dataLengthBase64 = FIRMWARE_BASE64_BUFFER_SIZE_FOR_WEB;
    const int test = base64_encode(body.text.data(), &dataLengthBase64, gDataConcatenated,
                                   gDataConcatenatedLenght);
    if (test == -1) {
        platform::consoleWrite("\r\n ERROR BASE 64 !\r\n");
        return body;
    }
    for (int k = 1; k <= FIRMWARE_BASE64_PAD_SEARCH_FOR_WEB && dataLengthBase64 - k >= 0; ++k) {
        std::uint8_t& character = body.text[static_cast<std::size_t>(dataLengthBase64 - k)];
        if (character == '=') {
            character = 'A';
        }
    }
    body.length = dataLengthBase64;
    body.encoded = true;
    return body;
}

// Appends the body in lines of FIRMWARE_CHUNCK_SIZE_FOR_WEB characters, each
// but the last followed by CR LF. True when every write went through.
bool appendBodyForWeb(const WebBody& body) {
    bool whole = FileAPI_OpenFile_ToWrite(FIRMWARE_FILE_NAME_FOR_WEB, FILE_BINARY_MODE) != 0;
    std::array<std::uint8_t, FIRMWARE_CHUNCK_SIZE_FOR_WEB + 2> tempBufferBase64{};
    int remainingByte = body.length;
    int currentIndex = 0;
    while (remainingByte > FIRMWARE_CHUNCK_SIZE_FOR_WEB) {
        std::copy_n(body.text.begin() + currentIndex, FIRMWARE_CHUNCK_SIZE_FOR_WEB,
                    tempBufferBase64.begin());
        currentIndex += FIRMWARE_CHUNCK_SIZE_FOR_WEB;
        remainingByte -= FIRMWARE_CHUNCK_SIZE_FOR_WEB;
        tempBufferBase64[FIRMWARE_CHUNCK_SIZE_FOR_WEB] = '\r';
        tempBufferBase64[FIRMWARE_CHUNCK_SIZE_FOR_WEB + 1] = '\n';
        whole = FileAPI_writeToFileBinary(tempBufferBase64.data(), tempBufferBase64.size()) != 0 &&
                whole;
    }
    if (remainingByte > 0) {
        std::copy_n(body.text.begin() + currentIndex, remainingByte, tempBufferBase64.begin());
        whole = FileAPI_writeToFileBinary(tempBufferBase64.data(),
                                          static_cast<std::uint32_t>(remainingByte)) != 0 &&
                whole;
    }
    return FileAPI_CloseFile() != 0 && whole;
}

}  // namespace

// Every step runs even after a file operation failed, so that each failure is
// reported; a file that did not get written whole is then removed, since its
// header would make it pass for complete.
std::uint8_t createFirmwareFileForWeb() {
    std::string header = FIRMWARE_FILE_HEADER_FOR_WEB;
    header += FIRMWARE_VERSION_TO_UPLOAD;
    header += "\r\n";

    if (!ValidateFwAndConcatenateData(gHexFirmware)) {
        platform::consoleWrite("\r\nERROR: Firmware data is not valid !\r\n");
        return 0;
    }
    platform::consoleWrite("\r\n Firmware data is valid !\r\n");

    computeDataConcatenatedCheckSum();
    std::string tempString = std::to_string(gDataConcatenatedCheckSum);
    header += tempString + "\r\n";
    platform::consolePrintf("\r\n Firmware CheckSum = %s !\r\n", tempString.c_str());
    platform::consolePrintf("\r\n Firmware CheckSum u = %u !\r\n", gDataConcatenatedCheckSum);
    tempString = std::to_string(gDataConcatenatedLenght);
    header += tempString + "\r\n";
    platform::consolePrintf("\r\n Firmware data length = %d !\r\n", gDataConcatenatedLenght);

    const bool created = FileAPI_CreateFile(FIRMWARE_FILE_NAME_FOR_WEB, FILE_BINARY_MODE) != 0;
    bool whole = FileAPI_writeToFileBinary(reinterpret_cast<const std::uint8_t*>(header.data()),
                                           static_cast<std::uint32_t>(header.size())) != 0;
    whole = FileAPI_CloseFile() != 0 && whole && created;

    const WebBody body = encodeImageForWeb();
    if (body.encoded) {
        whole = appendBodyForWeb(body) && whole;
    } else {
        whole = false;
    }

    if (created && !whole) {
        std::remove(FIRMWARE_FILE_NAME_FOR_WEB);
    }
    platform::consoleWrite("\r\nPress any key to exit");
    platform::consoleWaitKey();
    return whole ? 1 : 0;
}
