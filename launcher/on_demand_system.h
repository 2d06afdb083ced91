#pragma once
// The two system DLLs that only some runs need, loaded at their first use:
// the window system for a message box and the shell for nested folder
// creation. A run that needs neither starts without them (loading them costs
// a noticeable part of a small launch). Both are known DLLs, which the
// platform never takes from the program's folder.
#include <windows.h>

// MessageBoxW of user32.dll; 0 when it cannot be loaded.
int WINAPI ShowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);

// SHCreateDirectoryExW of shell32.dll, with no owner window and default
// security; ERROR_DLL_NOT_FOUND when it cannot be loaded.
int CreateFolderWithParents(const wchar_t* path);
