#include "config/config_update.h"

#include "config/param_substitution.h"
#include "diagnostics/diagnostic_log.h"
#include "diagnostics/logged_retry.h"
#include "diagnostics/problem_report.h"
#include "common/process_state.h"
#include "common/unique_handle.h"
#include "package/workspace_folders.h"

#include <fcntl.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
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

// Opens path for reading and writing (binary, no create, no truncate, shared
// for reading and writing), waiting a moment for a program that holds it
// (a scanner that has just opened the extracted file).
UniqueDescriptor OpenForRewrite(const wchar_t* path) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    RetryLogged(L"open", path, [&handle, path]() {
        handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    if (handle == INVALID_HANDLE_VALUE) {
        return UniqueDescriptor();
    }
    UniqueDescriptor file(_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY));
    if (!file) {
        CloseHandle(handle);  // not taken over by a descriptor
    }
    return file;
}

// Opens path for its rewrite and reads all size bytes of it. False when the
// open or any read fails, or the file cannot be held in memory; file then may
// or may not be open.
bool OpenAndReadAll(const wchar_t* path, unsigned long long size, UniqueDescriptor& file,
                    std::string& bytes) {
    file = OpenForRewrite(path);
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

// Logs the cause, removes the work folder (nothing can start from it), shows
// problem 201 with the file's path, closes the log and ends the process.
void FailOnUnreadableFile(const wchar_t* format, const wchar_t* path) {
    LogMessage(LogHandle, format, path);
    RemoveRunWorkFolder();
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

// The outcome of reading one of the two files.
enum class FileRead { absent, read, failed };

// Reads a file that exists and is not empty. absent for a missing or empty
// file; failed (problem reported, process ending) when it cannot be read.
FileRead ReadExistingFile(const wchar_t* path, const wchar_t* failureFormat, UniqueDescriptor& file,
                          std::string& bytes) {
    unsigned long long size = 0;
    if (!QueryFileSize(path, size) || size == 0) {
        return FileRead::absent;
    }
    if (!OpenAndReadAll(path, size, file, bytes)) {
        file.reset();
        FailOnUnreadableFile(failureFormat, path);
        return FileRead::failed;
    }
    return FileRead::read;
}

// The event name from the optional event name file at the root of the work
// folder; false when the file exists but cannot be read.
bool ReadEventName(const std::wstring& folder, std::wstring& eventName) {
    std::wstring eventPath = folder + kEventNameFileName;
    UniqueDescriptor file;
    std::string bytes;
    FileRead outcome = ReadExistingFile(eventPath.c_str(),
                                        L"Error opening/reading eventname file %s\n", file, bytes);
    if (outcome != FileRead::read) {
        return outcome == FileRead::absent;
    }
    eventName = EventNameFromText(DecodeFileText(bytes, eventPath.c_str()));
    LogMessage(LogHandle, L"EAfter reading eventname file, event name = %s\n", eventName.c_str());
    return true;
}

// The configuration file's new bytes; false when it is left unchanged.
bool RewrittenConfig(const std::string& bytes, const ConfigTokenList& tokens,
                     const wchar_t* configPath, std::string& rewritten) {
    size_t textEnd = ConfigTextEnd(bytes);
    bool valid = true;
    std::wstring text = DecodeUtf8(bytes, &valid);
    if (!valid) {
        // Decoding would put U+FFFD in place of every byte it cannot read:
        // the tokens are replaced in the bytes themselves instead.
        LogMessage(LogHandle,
                   L"File %s is not valid UTF-8; its tokens are replaced in its bytes, every "
                   L"other byte is kept\n",
                   configPath);
        rewritten = SubstituteInBytes(bytes.substr(0, textEnd), tokens);
    } else if (!SubstituteInText(text, tokens, configPath, rewritten)) {
        return false;
    }
    rewritten.append(bytes, textEnd, std::string::npos);
    return true;
}

// The four values in the order they are replaced.
ConfigTokenList LaunchTokens(const std::wstring& folder, bool playbackClient,
                             const std::wstring& eventName) {
    std::unique_ptr<wchar_t[]> slashed(ToForwardSlashes(folder.c_str()));
    std::wstring url = LocalFolderUrl(playbackClient, slashed != nullptr ? slashed.get() : L"");
    return ConfigTokens(url, BoundedString(LocaleCodes.country, 3), eventName,
                        BoundedString(LocaleCodes.language, 3));
}

}  // namespace

void UpdatePBCF(const wchar_t* configPath, bool playbackClient) {
    if (configPath == nullptr) {
        return;
    }
    std::wstring folder = BoundedString(WorkFolder, kPathCapacity);
    std::wstring eventName;
    if (!ReadEventName(folder, eventName)) {
        return;
    }
    ConfigTokenList tokens = LaunchTokens(folder, playbackClient, eventName);
    UniqueDescriptor file;
    std::string bytes;
    if (ReadExistingFile(configPath, L"Error opening/reading properties file %s\n", file, bytes) !=
        FileRead::read) {
        return;
    }
    std::string rewritten;
    if (!RewrittenConfig(bytes, tokens, configPath, rewritten)) {
        return;
    }
    RewriteFile(file.get(), rewritten);
    file.reset();
    LogMessage(LogHandle, L"Leaving UpdatePBCF\n");
}
