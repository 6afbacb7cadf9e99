// The one interface through which the program reaches the operating system:
// serial devices, sleeping, the console, and the creation and replacement of
// a file that must appear whole. Exactly one adapter (win32, posix or sim) is
// linked into each program; nothing above this folder includes an
// OS header.
#ifndef VENDRA_PLATFORM_PLATFORM_H
#define VENDRA_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "SerialRecords.h"

namespace platform {

// Opaque serial device handle. kNoSerialHandle is the state before any open;
// kInvalidSerialHandle is what a failed open returns (INVALID_HANDLE_VALUE).
// Neither names a device, so every operation on them fails.
enum class SerialHandle : std::intptr_t {};
inline constexpr SerialHandle kNoSerialHandle{0};
inline constexpr SerialHandle kInvalidSerialHandle{-1};

// Opens the device path ("\\.\COM<n>") for synchronous, exclusive reading and
// writing (CreateFileA with OPEN_EXISTING). A path that names no port, or a
// port in use, gives kInvalidSerialHandle.
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

void sleepMs(std::uint32_t milliseconds);

// Standard output unbuffered, in the platform's text mode. Called once at start.
void consoleSetUp();
// Where consoleWrite sends the program's text: standard output from the
// start; standard error for a program whose standard output carries nothing
// but a report that scripts read.
enum class ConsoleStream { Output, Error };
void consoleSelectStream(ConsoleStream stream);
void consoleWrite(std::string_view text);
// One line of operator input without its "\n"; characters beyond
// kConsoleLineLimit are read and dropped. False, with `line` empty, when input
// has ended before the line began.
inline constexpr std::size_t kConsoleLineLimit = 256;
bool consoleReadLine(std::string& line);
// One key press without echo; at the end of input it returns at once.
void consoleWaitKey();
// Drops console input typed ahead and not yet consumed.
void consoleDiscardInput();

// Creates `path` for writing bytes, only when nothing of that name exists,
// not even a dangling symlink. Null, with errno set, otherwise.
std::FILE* fileCreateNew(const char* path);
// Puts the file `from` in the place of `to` in one step (POSIX rename,
// MoveFileExA with MOVEFILE_REPLACE_EXISTING): a file or a symlink named `to`
// is replaced, never written through. False, with errno set, when it fails.
bool fileReplace(const char* from, const char* to);

// printf-style formatting onto consoleWrite; shared by every adapter.
[[gnu::format(printf, 1, 2)]] void consolePrintf(const char* format, ...);

}  // namespace platform

#endif
