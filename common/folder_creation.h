#pragma once
// The one call that creates the folders of an extraction and of the work
// folder. Windows refuses folder paths past 247 characters where Wine takes
// up to 259, so tests put a stand-in here to see what Windows does.
#include <windows.h>

using FolderCreateFunction = BOOL(WINAPI*)(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
// CreateDirectoryW unless a test has put another function here.
extern FolderCreateFunction FolderCreation;

inline BOOL CreateOneFolder(const wchar_t* path) {
    return FolderCreation(path, nullptr);
}
