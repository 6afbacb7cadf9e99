#include "VendraFwUpgrade.h"

#include "Console.h"

// Writes the web update file "FwToUpload.bin" into the current directory from
// the microcontroller image that the program carries.
int main() {
    constexpr int MICROCONTROLLER_IMAGE = 0;
    platform::consoleSetUp();
    obtainSharedBuffers();
    gHexFirmware = newImageWorkingCopy(MICROCONTROLLER_IMAGE);
    const bool written = createFirmwareFileForWeb() != 0;
    delete[] gHexFirmware;
    gHexFirmware = nullptr;
    releaseSharedBuffers();
    return written ? 0 : 1;
}
