#include "extract/zip_time.h"

#include "package/payload_names.h"

namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool DecodeDosDateTime(uint16_t dosDate, uint16_t dosTime, SYSTEMTIME* calendar) {
    int year = 1980 + (dosDate >> 9);
    int month = (dosDate >> 5) & 15;
    int day = dosDate & 31;
    int hour = dosTime >> 11;
    int minute = (dosTime >> 5) & 63;
    int second = 2 * (dosTime & 31);
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return false;
    }
    SYSTEMTIME time = {};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    *calendar = time;
    return true;
}

bool ZipTimeToFileTime(uint16_t dosDate, uint16_t dosTime, FILETIME* fileTime) {
    *fileTime = FILETIME{};
    SYSTEMTIME local;
    SYSTEMTIME universal;
    FILETIME result;
    // The offset is the one in force on the stored date (daylight saving
    // time or not), not the one of the moment of extraction.
    if (!DecodeDosDateTime(dosDate, dosTime, &local) ||
        !TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) ||
        !SystemTimeToFileTime(&universal, &result)) {
        return false;
    }
    *fileTime = result;
    return true;
}

FILETIME UnixTimeToFileTime(int32_t unixTime) {
    uint64_t ticks =
        static_cast<uint64_t>(static_cast<int64_t>(unixTime) + kUnixEpochInFileTimeSeconds) *
        static_cast<uint64_t>(kFileTimeTicksPerSecond);
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}
