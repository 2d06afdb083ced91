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
// No line grows without bound (an event name of megabytes, say): a message
// of more than this many characters, its line end not counted, keeps that
// many and then "...[cut, N characters]", N being the characters left out.
constexpr size_t kLogMessageLimit = 1024;
std::wstring CutLongMessage(std::wstring message);
// The bytes of one whole line: prefix, then format filled in with args by the
// Windows rule ("%s" is a wide string), cut when long.
std::string FormatLogLine(const std::wstring& prefix, const wchar_t* format, va_list args);
