#pragma once
// The run from process start to exit: log, package probe, copy-out,
// extraction, configuration rewrite and client start.
#include <string>

#include "common/process_state.h"

constexpr const wchar_t* kLogFolderFragment = L"\\Velmar_Client_Logs";

// The exit code of a run that ends in a problem box after extracting: a
// damaged payload, a full disk, a client that cannot start or ends at once, a
// configuration file that cannot be read.
constexpr int kProblemExitCode = 10;

// Ends a run that cannot do its job after its work folder was made: removes
// the work folder and the temporary archive, tells the user the first cause
// the run noted (a damaged package when none), closes the log. spaceNeeded
// is what a full disk had to hold. Returns the exit code, kProblemExitCode.
int EndFailedRun(unsigned long long spaceNeeded);

// The whole launch; commandLine is the narrow text after the program name.
// Returns the process exit code.
int RunLaunchSequence(const char* commandLine);

// The log folder for a temporary folder path (already in short form): one
// trailing backslash dropped, then "\Velmar_Client_Logs" appended.
std::wstring LogFolderFromTempPath(const std::wstring& tempPath);

// Room of the property text in wide characters, terminator included.
constexpr size_t kWidePropertyCapacity = 512;

// The narrow property text in wide characters, converted with the system's
// ANSI code page; empty when it does not convert or does not fit.
std::wstring WidePropertyText(const char* text);

// The locale codes of a property text: characters 0-1 are the language,
// characters 3-4 the country. A code gets only the characters that lie before
// the end of the text, so it may be shorter or empty.
LocaleCodeSet LocaleCodesFromText(const std::wstring& text);

// The work folder of a temporary archive path: the path less its last four
// characters (".zip"); empty for a shorter path.
std::wstring WorkFolderFromArchivePath(const std::wstring& archivePath);
