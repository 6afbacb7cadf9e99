// The platform on Windows: the serial communications calls and the console of
// the C runtime (StdioConsole.cpp for text and lines).
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
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

void consoleWaitKey() {
    static_cast<void>(_getch());
}

// The Microsoft C runtime defines flushing an input stream as discarding what
// it holds. A key pressed on a console waits in the console's own buffer,
// where the final key wait would take it at once.
void consoleDiscardInput() {
    std::fflush(stdin);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) == 0) {
        return;
    }
    // A console that a terminal feeds (Wine's) takes in the keys waiting there
    // only when asked; a wait without time-out asks, and on Windows it
    // returns at once.
    static_cast<void>(WaitForSingleObject(input, 0));
    FlushConsoleInputBuffer(input);
}

std::FILE* fileCreateNew(const char* path) {
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        _close(fd);
        _unlink(path);
        errno = error;
    }
    return file;
}

bool fileReplace(const char* from, const char* to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0) {
        return true;
    }
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            errno = EACCES;
            break;
        case ERROR_DISK_FULL:
            errno = ENOSPC;
            break;
        default:
            errno = EIO;
    }
    return false;
}

}  // namespace platform
