#pragma once
// The times of zip entries: DOS date and time fields (local time) and Unix
// times (UTC) as the platform's file times.
#include <windows.h>

#include <cstdint>

// Splits a DOS date and time into a calendar time. False when the fields do
// not form a real date and time (month 0, 30 February, hour 25, 62 seconds).
bool DecodeDosDateTime(uint16_t dosDate, uint16_t dosTime, SYSTEMTIME* calendar);

// A DOS date and time, which are local time, as a UTC file time, with the
// time zone's offset on that date. Zip entries and cabinet members both store
// their times so. False, with fileTime zeroed, when they are not a valid date
// and time.
bool ZipTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FILETIME* fileTime);

// Seconds since 1970-01-01 UTC as a file time (UTC, no local conversion).
FILETIME UnixTimeToFileTime(int32_t unixTime);
