#pragma once
// The times and attributes that an extracted file takes once its content is
// written, set through one call so that each file costs one round trip.
#include <windows.h>

#include <string>

struct ExtractedFileStamp {
    // UTC; a zero time is unknown, and the file keeps the time of its writing.
    FILETIME creation = {};
    FILETIME lastAccess = {};
    FILETIME lastWrite = {};
    DWORD attributes = 0;  // 0 keeps the attributes it has
};

// Stamps the file through its open handle (with write access). path names
// it in the log line of a stamp that cannot be set.
bool StampOpenFile(HANDLE file, const ExtractedFileStamp& stamp, const std::wstring& path);

// Stamps the file at path once it is closed: it is opened for its
// attributes only, which shares with any other program's use of it, and a
// program that refuses even that for a moment (a scanner that has just
// opened the new file) is waited for.
bool StampClosedFile(const std::wstring& path, const ExtractedFileStamp& stamp);
