// One output file at a time, held in the layer.
#ifndef VENDRA_FILEAPI_H
#define VENDRA_FILEAPI_H

#include <cstdint>

std::uint8_t FileAPI_OpenFile_ToWrite(const char* fileName, int isBinary);
std::uint8_t FileAPI_OpenFile_ToRead(const char* fileName, int isBinary);
std::uint8_t FileAPI_CreateFile(const char* fileName, int isBinary);
std::uint8_t FileAPI_writeToFile(const char* stringToWrite);
std::uint8_t FileAPI_writeToFileBinary(const std::uint8_t* dataToWrite, std::uint32_t dataLength);
std::uint8_t FileAPI_CloseFile();

// For a file that must appear whole or not at all: create a new file, not
// following nor replacing anything of that name, in binary mode; once it is
// written and closed, put it in the place of the final name in one step. A
// failure leaves errno telling why.
std::uint8_t FileAPI_CreateNewFile(const char* fileName);
std::uint8_t FileAPI_ReplaceFile(const char* fromName, const char* toName);

#endif
