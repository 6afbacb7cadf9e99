// The system's DCB and COMMTIMEOUTS by name only, so that a header can name
// them without bringing windows.h along. The tags are the ones windows.h
// defines the records under; it names the same types again, which C++ allows.
#ifndef VENDRA_PLATFORM_WIN32_SERIALRECORDSFWD_H
#define VENDRA_PLATFORM_WIN32_SERIALRECORDSFWD_H

struct _DCB;
struct _COMMTIMEOUTS;
using DCB = _DCB;
using COMMTIMEOUTS = _COMMTIMEOUTS;

#endif
