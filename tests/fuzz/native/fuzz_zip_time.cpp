// DOS date and time and Unix times as file times.
#include <cstring>

#include "extract/zip_time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) {
        return 0;
    }
    uint16_t date, time;
    int32_t unixTime;
    std::memcpy(&date, data, 2);
    std::memcpy(&time, data + 2, 2);
    std::memcpy(&unixTime, data + 4, 4);
    SYSTEMTIME calendar;
    FILETIME fileTime;
    if (DecodeDosDateTime(date, time, &calendar) &&
        (calendar.wMonth < 1 || calendar.wMonth > 12 || calendar.wDay < 1 || calendar.wDay > 31)) {
        __builtin_trap();
    }
    ZipTimeToFileTime(date, time, &fileTime);
    UnixTimeToFileTime(unixTime);
    return 0;
}
