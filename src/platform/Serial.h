// The serial part of the platform: open, read, write and set up a serial
// device. The line-settings and time-out records are only declared here, so
// that including this header brings in no OS header; SerialRecords.h defines
// them (on Windows, the system's own DCB and COMMTIMEOUTS).
#ifndef VENDRA_PLATFORM_SERIAL_H
#define VENDRA_PLATFORM_SERIAL_H

#include <cstdint>

#include "SerialRecordsFwd.h"

namespace platform {

// Opaque serial device handle. kNoSerialHandle is the state before any open;
// kInvalidSerialHandle is what a failed open returns (INVALID_HANDLE_VALUE).
// Neither names a device, so every operation on them fails.
enum class SerialHandle : std::intptr_t {};
inline constexpr SerialHandle kNoSerialHandle{0};
inline constexpr SerialHandle kInvalidSerialHandle{-1};

// Opens the device path ("\\.\COM<n>", see PortPath.h) for synchronous,
// exclusive reading and writing (CreateFileA with OPEN_EXISTING). A path that
// names no port, or a port in use, gives kInvalidSerialHandle.
SerialHandle serialOpen(const char* devicePath);
bool serialClose(SerialHandle handle);
bool serialSetupQueues(SerialHandle handle, std::uint32_t rxSize, std::uint32_t txSize);
bool serialSetTimeouts(SerialHandle handle, const COMMTIMEOUTS& timeouts);
bool serialSetState(SerialHandle handle, const DCB& settings);
bool serialPurge(SerialHandle handle, std::uint32_t flags);
bool serialEscape(SerialHandle handle, std::uint32_t function);
// One read: ends when `count` bytes arrived or one read time-out has passed.
// `*bytesRead` is set to 0 before anything else happens.
bool serialRead(SerialHandle handle, void* buffer, std::uint32_t count, std::uint32_t* bytesRead);
// One write: returns when every byte has been accepted.
bool serialWrite(SerialHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* bytesWritten);

}  // namespace platform

#endif
