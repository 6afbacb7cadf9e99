// Everything an adapter (win32, posix or sim) provides, for the adapters
// themselves and for tests that drive a whole platform. Exactly one adapter
// is linked into each program. The units include only the part they use
// (Console.h, Files.h, Serial.h); the serial port layer alone includes
// SerialRecords.h, which on Windows is windows.h.
#ifndef VENDRA_PLATFORM_PLATFORM_H
#define VENDRA_PLATFORM_PLATFORM_H

#include "Console.h"
#include "Files.h"
#include "Serial.h"
#include "SerialRecords.h"

#endif
