#pragma once
// Starting the playback client as a new, independent process.
#include <windows.h>

#include <string>

#include "launcher/client_command.h"

// Starts the program at the start of commandLine with the platform's normal
// window behaviour; with wait non-zero, returns only once it has ended.
// Non-zero when the process was created; a failure is logged.
int StartClientProcess(const wchar_t* commandLine, int wait);

// As StartClientProcess; with hidden non-zero the program gets a new console
// and its window is hidden. The caller's commandLine is never modified.
int LaunchProcess(const wchar_t* commandLine, int wait, int hidden);

// Starts the chosen client, allows it to take the foreground and watches its
// first moments (ClientWatch). False, with the cause noted as this run's
// failure (common/run_failure.h), when it cannot be created or when it ended
// at once with a failure status. programExtracted: this run extracted the
// program, so a program missing now was removed after its extraction.
bool StartWatchedClient(const ClientStart& client, bool programExtracted);

// How long the launcher watches the client: it ends its own run once the
// client waits for input, ends, or this time has passed.
constexpr DWORD kClientWatchMilliseconds = 1000;

// What the client did while it was watched.
struct ClientFirstMoments {
    bool ended = false;
    DWORD exitCode = 0;  // when ended
};
using ClientWatchFunction = ClientFirstMoments (*)(HANDLE process);
// The watch; unit tests put one here that answers without a process.
extern ClientWatchFunction ClientWatch;

// What creates the process: the system's CreateProcessW; unit tests put a
// stand-in here for refusals that Wine never gives (policy, antivirus).
using ProcessCreateFunction = decltype(&CreateProcessW);
extern ProcessCreateFunction ProcessCreation;

// An exit code that tells a failure: an NTSTATUS error (its top two bits set),
// as the loader gives when a DLL is missing. Every other exit is the client's
// own business.
bool IsFailureStatus(DWORD exitCode);

// What a failure status or a creation error means, for the log and the box:
// "status 0xC0000135: a DLL it needs was not found", "error 193".
std::wstring ClientFailureReason(DWORD code);
