#include "config/config_update.h"

#include "config/param_substitution.h"
#include "launcher/diagnostic_log.h"
#include "launcher/problem_report.h"
#include "launcher/process_state.h"
#include "launcher/text_conversion.h"
#include "launcher/unique_handle.h"

#include <fcntl.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

namespace {

[[noreturn]] void ExitAfterUnreadableFile(int exitCode) {
    std::exit(exitCode);
}

// The size of an existing file, or false when it has no attributes (missing).
bool QueryFileSize(const wchar_t* path, unsigned long long& size) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return false;
    }
    size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// Opens path for reading and writing (binary, no create, no truncate, shared)
// and reads all size bytes of it. False when the open or any read fails, or
// the file cannot be held in memory; file then may or may not be open.
bool OpenAndReadAll(const wchar_t* path, unsigned long long size, UniqueDescriptor& file,
                    std::string& bytes) {
    file.reset(_wopen(path, _O_RDWR | _O_BINARY));
    if (!file || size > static_cast<unsigned long long>(INT_MAX)) {
        return false;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
    if (buffer == nullptr) {
        return false;
    }
    size_t done = 0;
    while (done < size) {
        int got = _read(file.get(), buffer.get() + done, static_cast<unsigned>(size - done));
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    bytes.assign(buffer.get(), done);
    return true;
}

// Logs the cause, shows problem 201 with the file's path, closes the log and
// ends the process.
void FailOnUnreadableFile(const wchar_t* format, const wchar_t* path) {
    LogMessage(LogHandle, format, path);
    ReportProblem(kUnreadableFileProblem, path);
    CloseLauncherLog();
    ConfigUpdateExit(kUnreadableFileExitCode);
}

// Decodes a file's bytes, with a log line when they are not well-formed UTF-8.
std::wstring DecodeFileText(const std::string& bytes, const wchar_t* path) {
    bool valid = true;
    std::wstring text = DecodeUtf8(bytes, &valid);
    if (!valid) {
        LogMessage(LogHandle, L"File %s is not valid UTF-8; malformed bytes read as U+FFFD\n",
                   path);
    }
    return text;
}

// A bounded copy of one of the fixed process-wide strings.
std::wstring BoundedString(const wchar_t* text, size_t capacity) {
    return std::wstring(text, wcsnlen(text, capacity));
}

// Writes all of bytes at the start of the file and cuts the file behind them.
void RewriteFile(int file, const std::string& bytes) {
    _lseeki64(file, 0, SEEK_SET);
    size_t done = 0;
    while (done < bytes.size()) {
        size_t chunk = std::min<size_t>(bytes.size() - done, INT_MAX);
        int written = _write(file, bytes.data() + done, static_cast<unsigned>(chunk));
        if (written <= 0) {
            return;
        }
        done += static_cast<size_t>(written);
    }
    _chsize_s(file, static_cast<long long>(bytes.size()));
}

}  // namespace

ProcessExitFunction ConfigUpdateExit = ExitAfterUnreadableFile;

wchar_t* ToForwardSlashes(const wchar_t* path) {
    if (path == nullptr) {
        return nullptr;
    }
    size_t length = wcslen(path);
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
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

namespace {

// The configuration text with its tokens replaced, through substituteParam
// with its trace lines; false when the text is too large to update.
bool SubstituteInText(const std::wstring& text, const ConfigTokenList& tokens,
                      const wchar_t* configPath, std::string& rewritten) {
    size_t capacity = WorkingTextCapacity(text, tokens);
    if (capacity > UINT_MAX) {
        LogMessage(LogHandle, L"Properties file %s is too large to update; left unchanged\n",
                   configPath);
        return false;
    }
    std::vector<wchar_t> working(capacity, L'\0');
    std::copy(text.begin(), text.end(), working.begin());
    for (const TokenValue& token : tokens) {
        substituteParam(working.data(), token.token, token.value.c_str(),
                        static_cast<unsigned>(capacity));
    }
    rewritten = EncodeUtf8(working.data());
    return true;
}

}  // namespace

void UpdatePBCF(const wchar_t* configPath, bool playbackClient) {
    if (configPath == nullptr) {
        return;
    }
    std::wstring folder = BoundedString(WorkFolder, kPathCapacity);

    // The optional event name file at the root of the work folder.
    std::wstring eventPath = folder + kEventNameFileName;
    std::wstring eventName;
    unsigned long long size = 0;
    if (QueryFileSize(eventPath.c_str(), size) && size != 0) {
        UniqueDescriptor file;
        std::string bytes;
        if (!OpenAndReadAll(eventPath.c_str(), size, file, bytes)) {
            file.reset();
            FailOnUnreadableFile(L"Error opening/reading eventname file %s\n", eventPath.c_str());
            return;
        }
        eventName = EventNameFromText(DecodeFileText(bytes, eventPath.c_str()));
        LogMessage(LogHandle, L"EAfter reading eventname file, event name = %s\n",
                   eventName.c_str());
    }

    std::unique_ptr<wchar_t[]> slashed(ToForwardSlashes(folder.c_str()));
    std::wstring url = LocalFolderUrl(playbackClient, slashed != nullptr ? slashed.get() : L"");

    if (!QueryFileSize(configPath, size) || size == 0) {
        return;
    }
    UniqueDescriptor file;
    std::string bytes;
    if (!OpenAndReadAll(configPath, size, file, bytes)) {
        file.reset();
        FailOnUnreadableFile(L"Error opening/reading properties file %s\n", configPath);
        return;
    }

    ConfigTokenList tokens = ConfigTokens(url, BoundedString(LocaleCodes.country, 3), eventName,
                                          BoundedString(LocaleCodes.language, 3));
    // The text ends at the first zero byte of the file; whatever follows it is
    // kept as it was rather than cut off.
    size_t zero = std::min(bytes.find('\0'), bytes.size());
    std::string rewritten;
    bool valid = true;
    std::wstring text = DecodeUtf8(bytes, &valid);
    if (!valid) {
        // Decoding would put U+FFFD in place of every byte it cannot read:
        // the tokens are replaced in the bytes themselves instead.
        LogMessage(LogHandle,
                   L"File %s is not valid UTF-8; its tokens are replaced in its bytes, every "
                   L"other byte is kept\n",
                   configPath);
        rewritten = SubstituteInBytes(bytes.substr(0, zero), tokens);
    } else if (!SubstituteInText(text, tokens, configPath, rewritten)) {
        return;
    }
    rewritten.append(bytes, zero, std::string::npos);
    RewriteFile(file.get(), rewritten);
    file.reset();
    LogMessage(LogHandle, L"Leaving UpdatePBCF\n");
}
