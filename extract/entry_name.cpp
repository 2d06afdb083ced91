#include "extract/entry_name.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "common/ascii_text.h"
#include "common/path_components.h"
#include "common/text_conversion.h"

namespace {

bool IsNamed(const wchar_t* text, size_t length, std::wstring_view name) {
    return EqualIgnoringAsciiCase(std::wstring_view(text, length), name);
}

// The platform opens a device instead of a file for these base names, with
// any extension ("nul.txt" is the null device).
bool IsDeviceName(const wchar_t* component, size_t length) {
    size_t base = 0;
    while (base < length && component[base] != L'.') {
        ++base;
    }
    while (base > 0 && component[base - 1] == L' ') {
        --base;
    }
    static const wchar_t* const kDevices[] = {L"CON", L"PRN",    L"AUX",
                                              L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (IsNamed(component, base, device)) {
            return true;
        }
    }
    // The platform takes the superscript digits one to three as device
    // numbers too: COM\u00b9 is COM1.
    wchar_t number = base == 4 ? component[3] : L'\0';
    if ((number >= L'1' && number <= L'9') || number == 0x00B9 || number == 0x00B2 ||
        number == 0x00B3) {
        return IsNamed(component, 3, L"COM") || IsNamed(component, 3, L"LPT");
    }
    return false;
}

}  // namespace

bool IsEntryNameInside(const wchar_t* name) {
    if (name == nullptr || name[0] == L'\0' || IsPathSeparator(name[0])) {
        return false;
    }
    if (std::wcschr(name, L':') != nullptr || HasDotComponent(name)) {
        return false;
    }
    const wchar_t* component = name;
    for (const wchar_t* p = name;; ++p) {
        if (*p == L'\0' || IsPathSeparator(*p)) {
            size_t length = static_cast<size_t>(p - component);
            if (length > 0 && IsDeviceName(component, length)) {
                return false;
            }
            if (*p == L'\0') {
                return true;
            }
            component = p + 1;
        }
    }
}

bool IsEntryNameInside(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return false;
    }
    std::wstring wide;
    return WideFromCodePage(CP_ACP, name, 0, wide) && IsEntryNameInside(wide.c_str());
}
