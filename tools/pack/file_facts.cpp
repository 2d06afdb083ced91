#include "tools/pack/file_facts.h"

#include "package/payload_names.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
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

bool ToUtcCalendar(int64_t unixTime, CalendarTime& calendar) {
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    int64_t days = unixTime / 86400;
    int64_t seconds = unixTime % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t dayOfEra = z - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    calendar.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    calendar.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    calendar.year = static_cast<int>(yearOfEra + era * 400 + (calendar.month <= 2 ? 1 : 0));
    calendar.hour = static_cast<int>(seconds / 3600);
    calendar.minute = static_cast<int>(seconds / 60 % 60);
    calendar.second = static_cast<int>(seconds % 60);
    return true;
}

bool ReadSmallFile(const std::filesystem::path& path, const std::string& what, uint64_t largest,
                   std::vector<unsigned char>& bytes, uint64_t& size, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code failure;
    if (!fs::is_regular_file(path, failure)) {
        error = what + (fs::exists(path, failure) ? " is not a file" : " does not exist");
        return false;
    }
    size = fs::file_size(path, failure);
    if (failure) {
        error = "cannot read " + what + ": " + failure.message();
        return false;
    }
    bytes.clear();
    if (size > largest) {
        return true;
    }
    std::ifstream input(path, std::ios::binary);
    bytes.assign(static_cast<size_t>(size), 0);
    if (!input || !input.read(reinterpret_cast<char*>(bytes.data()),
                              static_cast<std::streamsize>(bytes.size()))) {
        error = "cannot read " + what;
        return false;
    }
    return true;
}
