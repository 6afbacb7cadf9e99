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

#endif
