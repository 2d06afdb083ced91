#include "launcher/diagnostic_log.h"

#include "launcher/process_state.h"
#include "launcher/system_paths.h"
#include "launcher/unique_handle.h"
#include "launcher/wide_format.h"

#include <share.h>
#include <cstdarg>
#include <new>

LogFile* LogHandle = nullptr;

namespace {

SYSTEMTIME timestampTime;
wchar_t timestampText[80];

constexpr const wchar_t* kStartBanner = L"*** Launcher Started ***\n";
constexpr const wchar_t* kExitBanner = L"*** Launcher Exiting ***\n";

// folder + "\" + launcher_log.txt, or empty when it does not fit a path buffer.
std::wstring ComposeLogPath(const std::wstring& folder) {
    std::wstring path = folder + L"\\" + kLogFileName;
    return path.size() < kPathCapacity ? path : std::wstring();
}

void RotateWhenLarge(const wchar_t* path) {
    UniqueFileHandle existing(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    if (!existing) {
        return;
    }
    DWORD size = GetFileSize(existing.get(), nullptr);
    existing.reset();
    if (size == INVALID_FILE_SIZE || size <= kLogRotationThreshold) {
        return;
    }
    std::wstring rotated = RotatedLogPath(path);
    if (rotated.empty() || rotated.size() >= kPathCapacity) {
        return;
    }
    DeleteFileW(rotated.c_str());
    MoveFileW(path, rotated.c_str());
}

}  // namespace

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
    bytes.reserve(text.size());
    for (wchar_t c : text) {
        bytes.push_back(static_cast<unsigned>(c) <= 255 ? static_cast<char>(c) : '?');
    }
    return bytes;
}

LogFile* CreateLogFile(const wchar_t* path) {
    LogFile* log = new (std::nothrow) LogFile();
    if (log == nullptr || path == nullptr || path[0] == L'\0') {
        return log;
    }
    RotateWhenLarge(path);
    // Text mode: each "\n" is stored as CR LF. Others may read and write it meanwhile.
    log->stream = _wfsopen(path, L"a+", _SH_DENYNO);
    return log;
}

LogFile* OpenLauncherLog(const wchar_t* folder) {
    CreateDirectoryW(folder, nullptr);
    std::wstring path = ComposeLogPath(folder);
    LogHandle = CreateLogFile(path.c_str());
    if (LogHandle == nullptr || LogHandle->stream == nullptr) {
        delete LogHandle;
        // The temporary folder as the platform reports it, not in short form.
        std::wstring tempFolder = TemporaryFolderPath();
        if (!tempFolder.empty()) {
            if (tempFolder.back() == L'\\') {
                tempFolder.pop_back();
            }
            path = ComposeLogPath(tempFolder);
        }
        LogHandle = CreateLogFile(path.c_str());
    }
    LogMessage(LogHandle, kStartBanner);
    return LogHandle;
}

const wchar_t* GetLogTimestamp() {
    GetLocalTime(&timestampTime);
    std::wstring prefix = FormatLogPrefix(timestampTime);
    FormatWide(timestampText, 80, L"%s", prefix.c_str());
    return timestampText;
}

int LogMessage(LogFile* handle, const wchar_t* format, ...) {
    if (handle == nullptr || handle->stream == nullptr || format == nullptr) {
        return 0;
    }
    // The prefix holds no "%", so prefix + format is a valid format.
    std::wstring joined = std::wstring(GetLogTimestamp()) + format;
    va_list args;
    va_start(args, format);
    std::wstring line = FormatWideStringV(joined.c_str(), args);
    va_end(args);
    std::string bytes = NarrowLogText(line);
    fwrite(bytes.data(), 1, bytes.size(), handle->stream);
    return fflush(handle->stream);
}

void CloseLauncherLog() {
    if (LogHandle == nullptr) {
        return;
    }
    LogMessage(LogHandle, kExitBanner);
    if (LogHandle->stream != nullptr) {
        fclose(LogHandle->stream);
    }
    delete LogHandle;
    LogHandle = nullptr;
}
