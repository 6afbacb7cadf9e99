#include "VendraFwUpgrade.h"

#include "ComPortAPI.h"
#include "Encoder.h"
#include "FileAPI.h"
#include "IntelHex.h"
#include "Platform.h"
#include "StringOperations.h"
#include "firmware/BinImage.h"

#include <algorithm>
#include <iterator>

char* gHexFirmware = nullptr;
char* gHexFPGA_Code = nullptr;
std::uint8_t* gDataConcatenated = nullptr;
char* gDataBuffer = nullptr;
std::int32_t gComPortNumber = 0;
std::int32_t gBaudRate = 0;
std::int32_t gDataConcatenatedLenght = 0;
std::uint32_t gDataConcatenatedCheckSum = 0;

namespace {

// Zero bytes after the assembly area and after each image text.
constexpr int BUFFER_TAIL_SIZE = 16;

}  // namespace

void obtainSharedBuffers() {
    gDataConcatenated = new std::uint8_t[CONCAT_BUFFER_SIZE + BUFFER_TAIL_SIZE]();
    std::fill_n(gDataConcatenated, CONCAT_BUFFER_SIZE, std::uint8_t{0xFF});
    gDataBuffer = new char[DATA_BUFFER_SIZE]();
}

void releaseSharedBuffers() {
    delete[] gDataBuffer;
    gDataBuffer = nullptr;
    delete[] gDataConcatenated;
    gDataConcatenated = nullptr;
}

char* newImageWorkingCopy(int catalogueIndex) {
    if (catalogueIndex < 0 ||
        static_cast<std::size_t>(catalogueIndex) >= std::size(AUTOGEN_FILES)) {
        return nullptr;
    }
    const autogen_files& image = AUTOGEN_FILES[catalogueIndex];
    const auto length = static_cast<std::size_t>(std::max(image.fileDataLength, std::int32_t{0}));
    char* copy = new char[length + BUFFER_TAIL_SIZE]();
    std::copy_n(image.fileData, length, copy);
    return copy;
}

namespace {

constexpr int EXIT_STATUS_UPDATED = 0;
constexpr int EXIT_STATUS_UPDATE_FAILED = 1;
constexpr int EXIT_STATUS_DIALOGUE_FAILED = -1;

// Asks the operator for the port and the baud rate and opens the port with
// them. False, after the final message, when either is refused.
bool runManualDialogue() {
    platform::consoleWrite("FAILED");
    platform::consoleWrite("\n\r\n\rEnter the COM port number : ");
    platform::consoleReadInt(gComPortNumber);
    platform::consolePrintf("\r\nOpening COM%d....................", gComPortNumber);
    if (ComPortAPI_OpenCOM(gComPortNumber) == 0) {
        dipsplayLastMessageToUserBeforeExit("");
        return false;
    }
    platform::consoleWrite("OK\r\n");
    platform::consoleWrite("\n\r\n\rEnter the BAUD RATE       : ");
    platform::consoleReadInt(gBaudRate);
    platform::consolePrintf("\r\nSetting baud rate at %d..........", gBaudRate);
    if (ComPortAPI_SetBaudRate(gBaudRate) == 0) {
        ComPortAPI_CloseCOM();
        dipsplayLastMessageToUserBeforeExit("");
        return false;
    }
    platform::consoleWrite("OK\r\n");
    return true;
}

// Releases the buffers, then the image copies.
void releaseRunBuffers() {
    releaseSharedBuffers();
    delete[] gHexFirmware;
    gHexFirmware = nullptr;
    delete[] gHexFPGA_Code;
    gHexFPGA_Code = nullptr;
}

}  // namespace

int runVendraFwUpgrade() {
    platform::consoleSetUp();
    gHexFirmware = newImageWorkingCopy(0);
    obtainSharedBuffers();

    platform::consolePrintf("\n\rYou are about to upload the firmware version %s",
                            FIRMWARE_VERSION_TO_UPLOAD);
    platform::consoleWrite("\n\r\n\rDetecting COM port and Baud Rate..................");

    // Ports opened while probing and the operator's port run without CTS flow
    // control; no port is open yet, so this only changes the stored settings.
    ComPortAPI_SetHardwareFlowControl(0);
    if (detectComPortAndBaudrate() != 0) {
        platform::consoleWrite("OK\r\n");
        platform::consolePrintf("COM PORT Number : %d", gComPortNumber);
        platform::consolePrintf("\r\nBaud rate       : %d \r\n\r\n", gBaudRate);
    } else if (!runManualDialogue()) {
        // The process ends here; releasing the buffers first keeps a run inside
        // a longer-lived process from holding them.
        releaseRunBuffers();
        return EXIT_STATUS_DIALOGUE_FAILED;
    }
    ComPortAPI_SetHardwareFlowControl(1);

    const bool updated = updateFirmware() != 0;
    ComPortAPI_CloseCOM();
    dipsplayLastMessageToUserBeforeExit(updated ? ""
                                                : "\n\rERROR: The update was not successful.\r\n");
    releaseRunBuffers();
    return updated ? EXIT_STATUS_UPDATED : EXIT_STATUS_UPDATE_FAILED;
}

void dipsplayLastMessageToUserBeforeExit(const char* lastMessage) {
    platform::consoleWrite(lastMessage);
    platform::consoleWrite("\r\nPress any key to exit");
    platform::consoleWaitKey();
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
