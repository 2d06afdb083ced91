#pragma once
// Problem reports: a modal box that names a problem number.
#include <windows.h>

#include <cstdarg>
#include <string>

// No package in the executable, or a configuration or event name file that
// cannot be read: the problem with the generic text.
constexpr int kGenericProblem = 201;
// The exit code of a run that ends in a problem box after extracting: a
// damaged payload, a full disk, a client that cannot start or ends at once, a
// configuration file that cannot be read.
constexpr int kProblemExitCode = 10;

constexpr unsigned kCaptionMessage = 10001;
constexpr unsigned kGenericTextMessage = 10006;
constexpr const wchar_t* kFallbackCaption = L"VelmarOne";
constexpr const wchar_t* kFallbackGenericText =
    L"The launcher has encountered a problem for which a description is not available.\n"
    L"Problem number: %d\n\nThe program will now exit.";

// Shows the problem box (error icon, OK) and returns once the user closed it.
// The insert arguments feed a catalogue text's %1, %2, ... placeholders.
void ReportProblem(int problemNumber, ...);
void ShowProblemBox(va_list* inserts, UINT style, int problemNumber);

// The message number of a problem's own text, or 0 when it has none.
unsigned ProblemMessageNumber(int problemNumber);

// What shows the box. Unit tests put a recorder here; everything else uses the system's
// MessageBoxW.
using ProblemBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
extern ProblemBoxFunction ProblemBoxDisplay;
