#pragma once
// The DLLs that the launcher uses beyond KERNEL32 and the C runtime, loaded at
// run time from the system folder only. Packages are started from download
// folders, where anyone can drop a DLL beside them: nothing may be imported
// before the search is restricted, and nothing loaded by a name that the
// search could find elsewhere.
#include <windows.h>

// Restricts the process's DLL search to the system folder. First thing the
// entry function does.
void RestrictDllSearch();

// Loads a DLL, given by bare name, from the system folder; null when it cannot.
HMODULE LoadSystemLibrary(const wchar_t* dllName);

// Loads from the system folder, once per process, the DLLs that a message box
// and the shell bring in by name, so that any later load of one of them finds
// it loaded already. Runs before the first box or shell call.
void PreloadInterfaceLibraries();

// The system's MessageBoxW, taken from USER32 on first use; 0 when it cannot be loaded.
int WINAPI SystemMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);

// The system's AllowSetForegroundWindow and WaitForInputIdle, from USER32 on
// first use; FALSE and WAIT_FAILED when it cannot be loaded.
BOOL WINAPI SystemAllowSetForegroundWindow(DWORD processId);
DWORD WINAPI SystemWaitForInputIdle(HANDLE process, DWORD milliseconds);
