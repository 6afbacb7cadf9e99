// On Windows the serial port layer keeps the real DCB and COMMTIMEOUTS and the
// platform's own constants for them.
#ifndef VENDRA_PLATFORM_WIN32_SERIALRECORDS_H
#define VENDRA_PLATFORM_WIN32_SERIALRECORDS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#endif
