#include "VendraFwUpgrade.h"

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

std::uint8_t createFirmwareFileForWeb() {
    return 0;
}
