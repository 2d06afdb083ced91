#pragma once
// The window system, which only a run that shows a message box needs, loaded
// at its first use: a run without a box starts without it (loading it costs a
// noticeable part of a small launch). user32.dll is a known DLL, which the
// platform never takes from the program's folder.
#include <windows.h>

// MessageBoxW of user32.dll; 0 when it cannot be loaded.
int WINAPI ShowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
