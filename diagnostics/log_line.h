#pragma once
// The text of the diagnostic log's lines, kept apart from the file they are
// written to.
#include <windows.h>

#include <cstdarg>
#include <string>

// "[MM/DD/YY hh:mm:ss] " for a local time.
std::wstring FormatLogPrefix(const SYSTEMTIME& time);
// The path of the rotated log: cut at the last "." and ".old" appended.
std::wstring RotatedLogPath(const std::wstring& logPath);
// The bytes of a log line: one byte per character, where characters above 255
// become "?" so that the rest of the line and the lines after it are still
// written, and each "\n" stored as CR LF.
std::string NarrowLogText(const std::wstring& text);
// The bytes of one whole line: prefix (which holds no "%"), then format filled
// in with args by the Windows rule ("%s" is a wide string).
std::string FormatLogLine(const std::wstring& prefix, const wchar_t* format, va_list args);
