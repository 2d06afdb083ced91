#pragma once
// The file system calls of cabinet extraction. The cabinet library hands the
// launcher's own callbacks narrow paths; they are carried as UTF-8, which holds
// every letter whatever the ANSI code page, and turned into wide paths here,
// right where they reach the file system.
#include <windows.h>

#include <string>

// The wide form of a UTF-8 path; false when it is not well-formed UTF-8 or
// the wide path would not fit a 260-character buffer with its terminator.
bool WidePathFromUtf8(const char* path, std::wstring& wide);

// The runtime's _wopen on the path; -1 (errno ENOENT) when it does not convert.
int OpenUtf8Path(const char* path, int flags, int permission);

// SetFileAttributesW and CreateDirectoryW on the path; the
// failure of a path that does not convert reads as ERROR_INVALID_NAME.
BOOL SetUtf8PathAttributes(const char* path, DWORD attributes);
BOOL CreateUtf8Directory(const char* path);
