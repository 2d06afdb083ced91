#include "tools/pack/file_facts.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
constexpr int64_t kFileTimeTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600;
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_ARCHIVE;

int64_t FileTimeValue(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

std::string LastErrorText() {
    return "Windows error " + std::to_string(GetLastError());
}
#endif

}  // namespace

bool ReadFileFacts(const std::filesystem::path& path, FileFacts& facts, std::string& error) {
    facts = FileFacts();
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        error = LastErrorText();
        return false;
    }
    facts.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.size = facts.isDirectory
                     ? 0
                     : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    int64_t ticks = FileTimeValue(data.ftLastWriteTime);
    facts.modifiedUnixTime = ticks / kFileTimeTicksPerSecond - kUnixEpochInFileTimeSeconds;
    facts.externalAttributes = data.dwFileAttributes & kKeptAttributes;
    facts.hostSystem = kHostFat;
    return true;
#else
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat linkStatus;
    facts.isLink = lstat(path.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode);
    facts.isDirectory = S_ISDIR(status.st_mode);
    facts.size = facts.isDirectory ? 0 : static_cast<uint64_t>(status.st_size);
    facts.modifiedUnixTime = static_cast<int64_t>(status.st_mtime);
    uint32_t mode = static_cast<uint32_t>(status.st_mode) & 0xFFFF;
    facts.externalAttributes = mode << 16;
    if (facts.isDirectory) {
        facts.externalAttributes |= 0x10;
    }
    if ((mode & S_IWUSR) == 0) {
        facts.externalAttributes |= 0x01;
    }
    facts.hostSystem = kHostUnix;
    return true;
#endif
}

bool ToLocalCalendar(int64_t unixTime, CalendarTime& local) {
#ifdef _WIN32
    // Times before 1601 have no file time; they are clamped by the caller's range.
    if (unixTime < -kUnixEpochInFileTimeSeconds) {
        return false;
    }
    uint64_t ticks =
        static_cast<uint64_t>(unixTime + kUnixEpochInFileTimeSeconds) * kFileTimeTicksPerSecond;
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    FILETIME localTime;
    SYSTEMTIME calendar;
    if (!FileTimeToLocalFileTime(&utc, &localTime) ||
        !FileTimeToSystemTime(&localTime, &calendar)) {
        return false;
    }
    local.year = calendar.wYear;
    local.month = calendar.wMonth;
    local.day = calendar.wDay;
    local.hour = calendar.wHour;
    local.minute = calendar.wMinute;
    local.second = calendar.wSecond;
    return true;
#else
    time_t value = static_cast<time_t>(unixTime);
    struct tm parts;
    if (localtime_r(&value, &parts) == nullptr) {
        return false;
    }
    local.year = parts.tm_year + 1900;
    local.month = parts.tm_mon + 1;
    local.day = parts.tm_mday;
    local.hour = parts.tm_hour;
    local.minute = parts.tm_min;
    local.second = parts.tm_sec;
    return true;
#endif
}
