#pragma once
// Wide printf formatting with the Windows rule: "%s" takes a wide string.
// mingw's C++ headers switch the standard names to C99 rules (where "%s" in a
// wide format means a narrow string), so all of the program's formatting goes
// through these instead.
#include <cstdarg>
#include <cstddef>
#include <string>

// Formats into out (capacity in wide characters, terminator included). The
// result is always terminated; returns the length, or -1 when it was cut.
int FormatWide(wchar_t* out, size_t capacity, const wchar_t* format, ...);
int FormatWideV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);

// Formats into a string of whatever length the result needs.
std::wstring FormatWideString(const wchar_t* format, ...);
std::wstring FormatWideStringV(const wchar_t* format, va_list args);
