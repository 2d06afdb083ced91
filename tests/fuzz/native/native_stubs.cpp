// What the parsers under fuzzing and the native tests call beyond themselves:
// the log (written nowhere) and the code-page conversions (bytes taken as
// Latin-1, which keeps every byte and never makes a separator out of a lead
// byte).
#include <string>

#include "diagnostics/diagnostic_log.h"
#include "common/text_conversion.h"

LogFile* LogHandle = nullptr;

// The Windows rule for "%s" (a wide string) is not the C library's here, so
// nothing is formatted.
int LogMessage(LogFile*, const wchar_t*, ...) {
    return 0;
}

bool WideFromCodePage(UINT, const char* text, size_t length, DWORD, std::wstring& wide) {
    wide.clear();
    for (size_t i = 0; i < length; ++i) {
        wide += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    return true;
}

bool WideFromCodePage(UINT codePage, const char* text, DWORD flags, std::wstring& wide) {
    return WideFromCodePage(codePage, text, std::char_traits<char>::length(text), flags, wide);
}

bool NarrowFromWide(UINT, const std::wstring& wide, DWORD, std::string& narrow, bool* lossy) {
    narrow.clear();
    for (wchar_t c : wide) {
        narrow += c < 0x100 ? static_cast<char>(c) : '?';
        if (lossy != nullptr && c >= 0x100) {
            *lossy = true;
        }
    }
    return true;
}
