#include "FileAPI.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Console.h"
#include "Files.h"

namespace {

constexpr std::uint8_t FILEAPI_SUCCESS = 1;
constexpr std::uint8_t FILEAPI_FAILURE = 0;
constexpr int FILEAPI_BINARY = 1;

std::FILE* fptr = nullptr;

// The console write may change errno; the caller still needs the reason.
void reportOpenFailure() {
    const int error = errno;
    platform::consoleWrite("ERROR: File does not exists\n");
    errno = error;
}

void reportNoFileOpen() {
    platform::consoleWrite("ERROR: File does not exists or Not opened !\n");
}

// Replaces the current file by a new stream; an earlier stream is left open.
std::uint8_t openAs(const char* fileName, const char* binaryMode, const char* textMode,
                    int isBinary) {
    fptr = fileName == nullptr
               ? nullptr
               : std::fopen(fileName, isBinary == FILEAPI_BINARY ? binaryMode : textMode);
    if (fptr == nullptr) {
        reportOpenFailure();
        return FILEAPI_FAILURE;
    }
    return FILEAPI_SUCCESS;
}

// The stream accepts every byte or the write has failed.
std::uint8_t writeBytes(const void* data, std::size_t length) {
    if (fptr == nullptr) {
        reportNoFileOpen();
        return FILEAPI_FAILURE;
    }
    if (length == 0) {
        return FILEAPI_SUCCESS;
    }
    return std::fwrite(data, 1, length, fptr) == length ? FILEAPI_SUCCESS : FILEAPI_FAILURE;
}

}  // namespace

std::uint8_t FileAPI_OpenFile_ToWrite(const char* fileName, int isBinary) {
    return openAs(fileName, "ab", "a", isBinary);
}

std::uint8_t FileAPI_OpenFile_ToRead(const char* fileName, int isBinary) {
    return openAs(fileName, "rb", "r", isBinary);
}

std::uint8_t FileAPI_CreateFile(const char* fileName, int isBinary) {
    return openAs(fileName, "wb", "w", isBinary);
}

std::uint8_t FileAPI_CreateNewFile(const char* fileName) {
    fptr = fileName == nullptr ? nullptr : platform::fileCreateNew(fileName);
    if (fptr == nullptr) {
        reportOpenFailure();
        return FILEAPI_FAILURE;
    }
    return FILEAPI_SUCCESS;
}

std::uint8_t FileAPI_ReplaceFile(const char* fromName, const char* toName) {
    return platform::fileReplace(fromName, toName) ? FILEAPI_SUCCESS : FILEAPI_FAILURE;
}

std::uint8_t FileAPI_writeToFile(const char* stringToWrite) {
    return writeBytes(stringToWrite, stringToWrite == nullptr ? 0 : std::strlen(stringToWrite));
}

std::uint8_t FileAPI_writeToFileBinary(const std::uint8_t* dataToWrite, std::uint32_t dataLength) {
    return writeBytes(dataToWrite, dataLength);
}

// Buffered bytes reach the file only here, so a full disk shows up as a
// failed close. The stream is gone either way.
std::uint8_t FileAPI_CloseFile() {
    if (fptr == nullptr) {
        reportNoFileOpen();
        return FILEAPI_FAILURE;
    }
    const int closed = std::fclose(fptr);
    fptr = nullptr;
    return closed == 0 ? FILEAPI_SUCCESS : FILEAPI_FAILURE;
}
