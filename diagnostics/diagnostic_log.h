#pragma once
// The diagnostic log: one timestamped, flushed line per step of a launch.
#include <windows.h>

#include <memory>
#include <string>

#include "diagnostics/log_line.h"
#include "common/unique_handle.h"

struct LogFile {
    // Open for appending only, so that each line lands whole at the end of the
    // file even while other launchers write to it; empty when the file could
    // not be opened.
    UniqueFileHandle file;
    // Whether writes still take the append lock (see LogMessage).
    bool locking = true;
};

// The process's one log, set by OpenLauncherLog (or UseLauncherLog); it
// points to the log that UseLauncherLog holds, or to none.
extern LogFile* LogHandle;

constexpr const wchar_t* kLogFileName = L"launcher_log.txt";
constexpr unsigned long kLogRotationThreshold = 512000;  // bytes; larger logs are moved aside

// Creates the folder when missing, opens (and, when large, rotates) the log in
// it, falls back to the temporary folder, writes the start banner.
LogFile* OpenLauncherLog(const wchar_t* folder);
// Writes one line: the local-time prefix, then the formatted message. The
// format follows the Windows rule ("%s" is a wide string).
int LogMessage(LogFile* handle, const wchar_t* format, ...);
// Writes the exit banner, closes and releases the log.
void CloseLauncherLog();
// The prefix of the line being written, filled with the current local time.
const wchar_t* GetLogTimestamp();

// Builds a LogFile for a path: rotates a log above the threshold, then opens
// it. Neither the folder, the log nor its .old is used through a link: one in
// their place leaves the LogFile empty.
std::unique_ptr<LogFile> CreateLogFile(const wchar_t* path);
// Makes log the process's log (LogHandle), releasing the one held before.
void UseLauncherLog(std::unique_ptr<LogFile> log);
