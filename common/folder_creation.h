#pragma once
// Creating folders. Every folder of an extraction and of the work folder is
// made through one call, so that tests can put a stand-in there: Windows
// refuses folder paths past 247 characters where Wine takes up to 259.
#include <windows.h>

#include <cstddef>

using FolderCreateFunction = BOOL(WINAPI*)(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
// CreateDirectoryW unless a test has put another function here.
extern FolderCreateFunction FolderCreation;

inline BOOL CreateOneFolder(const wchar_t* path) {
    return FolderCreation(path, nullptr);
}

// Creates path and its missing ancestors ("\" and "/" both separate them).
// path normally ends in a separator; without one, its last component is
// created too. A name already there, of whatever kind, counts as made. The
// text is modified while the walk runs and restored before return. Paths of
// 260 characters or more are refused. True when the whole path is there at
// the end; no log.
bool CreateFolderPath(wchar_t* path);

constexpr size_t kNoFolderWalk = static_cast<size_t>(-1);
// Where the walk of CreateFolderPath begins, past the root: 3 for "C:\...",
// the backslash after the share name for "\\server\share\...", 1 otherwise;
// kNoFolderWalk when a network path ends before its share name does.
size_t FolderWalkStart(const wchar_t* path);
