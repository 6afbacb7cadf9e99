// The platform on Windows: the serial communications calls and the console of
// the C runtime.
#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "Platform.h"

namespace platform {
namespace {

HANDLE nativeHandle(SerialHandle handle) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

SerialHandle portableHandle(HANDLE handle) {
    return SerialHandle{reinterpret_cast<std::intptr_t>(handle)};
}

}  // namespace

SerialHandle serialOpen(const char* devicePath) {
    return portableHandle(CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr));
}

bool serialClose(SerialHandle handle) {
    return CloseHandle(nativeHandle(handle)) != 0;
}

bool serialSetupQueues(SerialHandle handle, std::uint32_t rxSize, std::uint32_t txSize) {
    return SetupComm(nativeHandle(handle), rxSize, txSize) != 0;
}

bool serialSetTimeouts(SerialHandle handle, const COMMTIMEOUTS& timeouts) {
    COMMTIMEOUTS applied = timeouts;
    return SetCommTimeouts(nativeHandle(handle), &applied) != 0;
}

bool serialSetState(SerialHandle handle, const DCB& settings) {
    DCB applied = settings;
    return SetCommState(nativeHandle(handle), &applied) != 0;
}

bool serialPurge(SerialHandle handle, std::uint32_t flags) {
    return PurgeComm(nativeHandle(handle), flags) != 0;
}

bool serialEscape(SerialHandle handle, std::uint32_t function) {
    return EscapeCommFunction(nativeHandle(handle), function) != 0;
}

bool serialRead(SerialHandle handle, void* buffer, std::uint32_t count, std::uint32_t* bytesRead) {
    DWORD received = 0;
    const BOOL succeeded = ReadFile(nativeHandle(handle), buffer, count, &received, nullptr);
    *bytesRead = received;
    return succeeded != 0;
}

bool serialWrite(SerialHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* bytesWritten) {
    DWORD sent = 0;
    const BOOL succeeded = WriteFile(nativeHandle(handle), buffer, count, &sent, nullptr);
    *bytesWritten = sent;
    return succeeded != 0;
}

void sleepMs(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

void consoleSetUp() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
}

namespace {
ConsoleStream gConsoleStream = ConsoleStream::Output;
}  // namespace

void consoleSelectStream(ConsoleStream stream) {
    gConsoleStream = stream;
}

// Standard error is unbuffered from the start.
void consoleWrite(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(),
                gConsoleStream == ConsoleStream::Error ? stderr : stdout);
}

bool consoleReadInt(int& value) {
    return std::scanf("%d", &value) == 1;
}

void consoleWaitKey() {
    static_cast<void>(_getch());
}

// The Microsoft C runtime defines flushing an input stream as discarding what
// it holds.
void consoleDiscardInput() {
    std::fflush(stdin);
}

}  // namespace platform
