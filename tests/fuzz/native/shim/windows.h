#pragma once
// The few Windows types and calls that the parsers under fuzzing name, so that
// they build natively with clang, libFuzzer and AddressSanitizer. The calls
// are plain stand-ins: the fuzz targets test the parsers' own logic.
#include <cstdint>
#include <cstdio>

typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int BOOL;
typedef struct _SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME;
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;
#define CP_ACP 0u
#define CP_UTF8 65001u
#define MB_ERR_INVALID_CHARS 0x8u
#define WC_NO_BEST_FIT_CHARS 0x400u
#define WC_ERR_INVALID_CHARS 0x80u
#define WINAPI

// Handles, for the owners that the shared headers declare; never opened here.
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HMODULE;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))
inline BOOL CloseHandle(HANDLE) {
    return 1;
}
inline BOOL FindClose(HANDLE) {
    return 1;
}
inline HLOCAL LocalFree(HLOCAL) {
    return nullptr;
}
inline BOOL FreeLibrary(HMODULE) {
    return 1;
}

// Days since 1601 for a valid calendar date, as the platform computes them.
inline BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* out) {
    if (time->wMonth < 1 || time->wMonth > 12 || time->wDay < 1 || time->wDay > 31 ||
        time->wHour > 23 || time->wMinute > 59 || time->wSecond > 59 || time->wYear < 1601) {
        return 0;
    }
    int64_t y = time->wYear - (time->wMonth <= 2), m = (time->wMonth + 9) % 12;
    int64_t days = 365 * y + y / 4 - y / 100 + y / 400 + (m * 306 + 5) / 10 + time->wDay - 1;
    int64_t base = 365 * 1600LL + 1600 / 4 - 1600 / 100 + 1600 / 400 + 306;  // 1601-01-01
    uint64_t ticks = static_cast<uint64_t>(
        ((days - base) * 86400 + time->wHour * 3600 + time->wMinute * 60 + time->wSecond) *
        10000000LL);
    out->dwLowDateTime = static_cast<DWORD>(ticks);
    out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return 1;
}
inline BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* universal) {
    *universal = *local;  // the fuzz run's zone is UTC
    return 1;
}

inline BOOL TzSpecificLocalTimeToSystemTime(const void* zone, const SYSTEMTIME* local,
                                            SYSTEMTIME* universal) {
    (void)zone;
    *universal = *local;  // the fuzz run's zone is UTC
    return 1;
}
