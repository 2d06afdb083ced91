#include "config/param_substitution.h"

#include "diagnostics/diagnostic_log.h"

#include <cwchar>
#include <memory>
#include <new>

std::wstring ReplaceAllOccurrences(const std::wstring& text, const std::wstring& token,
                                   const std::wstring& value) {
    if (token.empty()) {
        return text;
    }
    std::wstring result;
    size_t scan = 0;
    for (size_t found = text.find(token); found != std::wstring::npos;
         found = text.find(token, scan)) {
        result.append(text, scan, found - scan);
        result += value;
        scan = found + token.size();
    }
    result.append(text, scan, std::wstring::npos);
    return result;
}

int substituteParam(wchar_t* text, const wchar_t* substi, const wchar_t* paramValue,
                    unsigned newBufferLength) {
    const wchar_t* token = substi != nullptr ? substi : L"";
    const wchar_t* value = paramValue != nullptr ? paramValue : L"";
    LogMessage(LogHandle, L"In substituteParam, substi = %s, paramValue = %s\n", token, value);

    // The text as it was on entry, read no further than the buffer reaches.
    size_t length = text != nullptr ? wcsnlen(text, newBufferLength) : 0;
    bool terminated = text != nullptr && length < newBufferLength;
    std::unique_ptr<wchar_t[]> scratch;
    if (terminated) {
        scratch.reset(new (std::nothrow) wchar_t[length + 1]);
    }
    if (!terminated) {
        // No buffer, or no terminator inside it: nothing that can be rewritten safely.
        LogMessage(LogHandle,
                   L"   Text is not terminated within newBufferLength; left unchanged\n");
    } else if (scratch == nullptr) {
        LogMessage(LogHandle, L"   No memory for a copy of the text; text left unchanged\n");
    } else {
        wmemcpy(scratch.get(), text, length + 1);
        std::wstring result = ReplaceAllOccurrences(scratch.get(), token, value);
        if (result.size() < newBufferLength) {
            wmemcpy(text, result.c_str(), result.size() + 1);
            length = result.size();
        } else {
            LogMessage(LogHandle,
                       L"   Result of %d characters does not fit newBufferLength = %d; text left "
                       L"unchanged\n",
                       static_cast<int>(result.size()), static_cast<int>(newBufferLength));
        }
    }

    LogMessage(LogHandle, L"   strlen = %d, newBufferLength = %d\n", static_cast<int>(length),
               static_cast<int>(newBufferLength));
    LogMessage(LogHandle, L"Cleaning up substituteParam\n");
    scratch.reset();
    LogMessage(LogHandle, L"After cleaning up substituteParam\n");
    return 0;
}
