#include "config/config_text.h"

#include "config/param_substitution.h"
#include "common/text_conversion.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <new>

std::unique_ptr<wchar_t[]> ToForwardSlashes(const wchar_t* path) {
    if (path == nullptr) {
        return nullptr;
    }
    size_t length = wcslen(path);
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length + 1]);
    if (copy == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i <= length; ++i) {
        copy[i] = path[i] == L'\\' ? L'/' : path[i];
    }
    return copy;
}

std::wstring LocalFolderUrl(bool playbackClient, const std::wstring& slashedFolder) {
    return (playbackClient ? L"file://" : L"file:///") + slashedFolder;
}

std::wstring EventNameFromText(const std::wstring& text) {
    size_t equals = text.find(L'=');
    if (equals == std::wstring::npos) {
        return std::wstring();
    }
    std::wstring name = text.substr(equals + 1);
    if (!name.empty() && name.back() == L'\n') {
        name.pop_back();
    }
    if (!name.empty() && name.back() == L'\r') {
        name.pop_back();
    }
    return name;
}

std::wstring DecodeUtf8(const std::string& bytes, bool* valid) {
    std::string input = bytes.substr(0, bytes.find('\0'));
    std::wstring text;
    bool strict = WideFromCodePage(CP_UTF8, input.data(), input.size(), MB_ERR_INVALID_CHARS, text);
    if (valid != nullptr) {
        *valid = strict || input.empty();
    }
    if (!strict) {
        WideFromCodePage(CP_UTF8, input.data(), input.size(), 0, text);
    }
    return text;
}

std::string EncodeUtf8(const std::wstring& text) {
    std::string bytes;
    NarrowFromWide(CP_UTF8, text, 0, bytes);
    return bytes;
}

ConfigTokenList ConfigTokens(const std::wstring& url, const std::wstring& country,
                             const std::wstring& eventName, const std::wstring& language) {
    return {{{L"%local%", url},
             {L"%locc%", country},
             {L"%eventname%", eventName},
             {L"%locl%", language}}};
}

size_t ConfigTextEnd(const std::string& bytes) {
    return std::min(bytes.find('\0'), bytes.size());
}

std::string SubstituteInBytes(const std::string& bytes, const ConfigTokenList& tokens) {
    std::string text = bytes;
    for (const TokenValue& token : tokens) {
        std::string pattern = EncodeUtf8(token.token);
        std::string value = EncodeUtf8(token.value);
        std::string result;
        size_t from = 0;
        for (size_t found; (found = text.find(pattern, from)) != std::string::npos;
             from = found + pattern.size()) {
            result.append(text, from, found - from);
            result += value;
        }
        result.append(text, from, std::string::npos);
        text = result;
    }
    return text;
}

size_t WorkingTextCapacity(const std::wstring& text, const ConfigTokenList& tokens) {
    size_t capacity = 2 * (text.size() + 1);
    std::wstring step = text;
    for (const TokenValue& token : tokens) {
        step = ReplaceAllOccurrences(step, token.token, token.value);
        capacity = std::max(capacity, step.size() + 1);
    }
    return capacity;
}
