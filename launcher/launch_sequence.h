#pragma once
// The run from process start to exit: log, package probe, copy-out,
// extraction, configuration rewrite and client start.
#include <string>

constexpr const wchar_t* kLogFolderFragment = L"\\Velmar_Client_Logs";

// The whole launch; commandLine is the narrow text after the program name.
// Returns the process exit code.
int RunLaunchSequence(const char* commandLine);

// The log folder for a temporary folder path (already in short form): one
// trailing backslash dropped, then "\Velmar_Client_Logs" appended.
std::wstring LogFolderFromTempPath(const std::wstring& tempPath);
