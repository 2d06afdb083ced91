#include "common/wide_format.h"

#include <cwchar>
#include <stdio.h>
#include <vector>

// _vsnwprintf is msvcrt's own: it keeps the Windows convention whatever
// __USE_MINGW_ANSI_STDIO does to the standard names (a unit test proves it).

int FormatWideV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
    if (out == nullptr || capacity == 0) {
        return -1;
    }
    int written = _vsnwprintf(out, capacity - 1, format, args);
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        out[capacity - 1] = L'\0';
        return -1;
    }
    out[written] = L'\0';
    return written;
}

int FormatWide(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int result = FormatWideV(out, capacity, format, args);
    va_end(args);
    return result;
}

std::wstring FormatWideStringV(const wchar_t* format, va_list args) {
    // _vsnwprintf reports -1 when the buffer is too small: grow until it fits.
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list attempt;
        va_copy(attempt, args);
        int written = _vsnwprintf(buffer.data(), buffer.size() - 1, format, attempt);
        va_end(attempt);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        }
        if (buffer.size() >= (1u << 24)) {
            return std::wstring();
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring FormatWideString(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring result = FormatWideStringV(format, args);
    va_end(args);
    return result;
}
