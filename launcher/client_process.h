#pragma once
// Starting the playback client as a new, independent process.

// Starts the program at the start of commandLine with the platform's normal
// window behaviour; with wait non-zero, returns only once it has ended.
// Non-zero when the process was created; a failure is logged.
int StartClientProcess(const wchar_t* commandLine, int wait);

// As StartClientProcess; with hidden non-zero the program gets a new console
// and its window is hidden. The caller's commandLine is never modified.
int LaunchProcess(const wchar_t* commandLine, int wait, int hidden);
