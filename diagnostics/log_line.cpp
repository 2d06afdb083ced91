#include "diagnostics/log_line.h"

#include "common/wide_format.h"

std::wstring FormatLogPrefix(const SYSTEMTIME& time) {
    wchar_t prefix[80];
    FormatWide(prefix, 80, L"[%02d/%02d/%02d %02d:%02d:%02d] ", time.wMonth, time.wDay,
               time.wYear % 100, time.wHour, time.wMinute, time.wSecond);
    return prefix;
}

std::wstring RotatedLogPath(const std::wstring& logPath) {
    size_t dot = logPath.rfind(L'.');
    if (dot == std::wstring::npos) {
        return logPath + L".old";
    }
    return logPath.substr(0, dot) + L".old";
}

std::string NarrowLogText(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n') {
            bytes.push_back('\r');
        }
        bytes.push_back(static_cast<unsigned>(c) <= 255 ? static_cast<char>(c) : '?');
    }
    return bytes;
}

std::wstring CutLongMessage(std::wstring message) {
    bool lineEnd = !message.empty() && message.back() == L'\n';
    size_t length = message.size() - (lineEnd ? 1 : 0);
    if (length <= kLogMessageLimit) {
        return message;
    }
    message.resize(kLogMessageLimit);
    message +=
        FormatWideString(L"...[cut, %d characters]", static_cast<int>(length - kLogMessageLimit));
    if (lineEnd) {
        message += L'\n';
    }
    return message;
}

std::string FormatLogLine(const std::wstring& prefix, const wchar_t* format, va_list args) {
    return NarrowLogText(prefix + CutLongMessage(FormatWideStringV(format, args)));
}
