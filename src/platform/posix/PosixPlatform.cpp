#include "Platform.h"

// Placeholder adapter: every operation fails until the real one lands.
namespace platform {

SerialHandle serialOpen(const char*) { return kInvalidSerialHandle; }
bool serialClose(SerialHandle) { return false; }
bool serialSetupQueues(SerialHandle, std::uint32_t, std::uint32_t) { return false; }
bool serialSetTimeouts(SerialHandle, const COMMTIMEOUTS&) { return false; }
bool serialSetState(SerialHandle, const DCB&) { return false; }
bool serialPurge(SerialHandle, std::uint32_t) { return false; }
bool serialEscape(SerialHandle, std::uint32_t) { return false; }
bool serialRead(SerialHandle, void*, std::uint32_t, std::uint32_t* bytesRead) {
    *bytesRead = 0;
    return false;
}
bool serialWrite(SerialHandle, const void*, std::uint32_t, std::uint32_t* bytesWritten) {
    *bytesWritten = 0;
    return false;
}
void sleepMs(std::uint32_t) {}
void consoleSetUp() {}
void consoleWrite(std::string_view) {}
bool consoleReadInt(int&) { return false; }
void consoleWaitKey() {}
void consoleDiscardInput() {}

}  // namespace platform
