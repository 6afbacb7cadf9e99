// The line-settings and time-out records by name only (see SerialRecords.h).
#ifndef VENDRA_PLATFORM_RECORDS_SERIALRECORDSFWD_H
#define VENDRA_PLATFORM_RECORDS_SERIALRECORDSFWD_H

struct DCB;
struct COMMTIMEOUTS;

#endif
