#pragma once
// What the payload zip records of a file or folder, read from the file system:
// its kind, size, modification time and attributes in the zip's terms; and
// the small input files (the launcher stub, an icon) read whole.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The host system of the zip's "version made by" field, which tells readers
// how to take the external attributes.
constexpr uint16_t kHostFat = 0;
constexpr uint16_t kHostUnix = 3;

struct FileFacts {
    bool isDirectory = false;
    bool isLink = false;  // a symbolic link, or on Windows any reparse point (junctions too)
    uint64_t size = 0;
    int64_t modifiedUnixTime = 0;     // seconds since 1970-01-01 UTC
    uint32_t externalAttributes = 0;  // as the zip's directory record holds them
    uint16_t hostSystem = kHostFat;
};

// On POSIX systems: Unix mode bits in the high half (host 3), with the FAT
// directory and read-only bits in the low byte for readers that look there.
// On Windows: the FAT attributes (host 0).
bool ReadFileFacts(const std::filesystem::path& path, FileFacts& facts, std::string& error);

struct CalendarTime {
    int year = 1980;  // full year
    int month = 1;    // 1-12
    int day = 1;      // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The UTC calendar time of a Unix time. Stored DOS times are UTC, so that a
// package does not depend on the time zone it was made in; the exact time
// travels in the extended timestamp, which the launcher prefers.
bool ToUtcCalendar(int64_t unixTime, CalendarTime& calendar);

// Reads a small input file whole; what names it in messages ("the launcher
// X"). A file longer than largest is not read: size tells its length, bytes
// stay empty, and the result is true. False, with the reason, when it is
// missing, not a file or cannot be read.
bool ReadSmallFile(const std::filesystem::path& path, const std::string& what, uint64_t largest,
                   std::vector<unsigned char>& bytes, uint64_t& size, std::string& error);
