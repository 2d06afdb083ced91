#include "diagnostics/diagnostic_log.h"

#include "common/checked_files.h"
#include "diagnostics/log_line.h"
#include "common/process_state.h"
#include "common/system_paths.h"
#include "common/wide_format.h"

#include <cstdarg>
#include <new>
#include <vector>

LogFile* LogHandle = nullptr;

namespace {

SYSTEMTIME timestampTime;
wchar_t timestampText[80];

constexpr const wchar_t* kStartBanner = L"*** Launcher Started ***\n";
constexpr const wchar_t* kExitBanner = L"*** Launcher Exiting ***\n";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// folder + "\" + launcher_log.txt, or empty when it does not fit a path buffer.
std::wstring ComposeLogPath(const std::wstring& folder) {
    std::wstring path = folder + L"\\" + kLogFileName;
    return path.size() < kPathCapacity ? path : std::wstring();
}

// Opens a file of the log's folder without following a link in its place.
UniqueFileHandle OpenWithoutFollowing(const std::wstring& path, DWORD access, DWORD share,
                                      DWORD disposition) {
    return UniqueFileHandle(CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The log for appending only: every write then goes to the end of the file in
// one step, whoever else appends. An existing file is opened as it is and a
// missing one created new, so that a name which exists but cannot be opened (a
// dangling link) is never created through. Others may read and write it
// meanwhile; it is not shared for deletion, so that no rotation removes a log
// that a launcher still writes to.
constexpr int kOpenAttempts = 400;  // about two seconds

UniqueFileHandle OpenForAppending(const std::wstring& path) {
    // Reading is asked for only because the append lock needs it.
    constexpr DWORD access = FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    // Another launcher that is starting holds the log briefly with delete
    // access while it checks whether to rotate: wait for it rather than lose
    // this run's lines to the fallback log.
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        for (DWORD disposition : {OPEN_EXISTING, CREATE_NEW, OPEN_EXISTING}) {
            UniqueFileHandle file = OpenWithoutFollowing(path, access, share, disposition);
            DWORD error = GetLastError();
            if (file) {
                return file;
            }
            if (error == ERROR_SHARING_VIOLATION) {
                break;
            }
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_FILE_EXISTS) {
                return file;
            }
        }
        Sleep(5);
    }
    return UniqueFileHandle();
}

// Some platforms (Wine) find the end of the file and write there in two steps,
// even for an append-only handle: two launchers may then write at the same
// place. Every launcher takes a lock on one byte far past the end of the log
// around its write, which makes the two steps one. A lock held by someone
// else for long is given up once, and later lines go without it.
constexpr DWORD kAppendLockOffsetHigh = 0x7FFFFFFF;
constexpr int kAppendLockAttempts = 2000;  // about two seconds

bool TakeAppendLock(LogFile& log) {
    OVERLAPPED at = {};
    at.OffsetHigh = kAppendLockOffsetHigh;
    for (int attempt = 0; log.locking && attempt < kAppendLockAttempts; ++attempt) {
        if (LockFileEx(log.file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &at)) {
            return true;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            break;
        }
        Sleep(1);
    }
    log.locking = false;
    return false;
}

void ReleaseAppendLock(LogFile& log) {
    OVERLAPPED at = {};
    at.OffsetHigh = kAppendLockOffsetHigh;
    UnlockFileEx(log.file.get(), 0, 1, 0, &at);
}

enum class OldLogState { Gone, Kept, Linked };

// Deletes the rotated log through a handle checked to lie where its name says.
OldLogState DeleteOldLog(const CheckedFolder& folder, const std::wstring& oldPath,
                         const std::wstring& oldLeaf) {
    UniqueFileHandle old =
        OpenWithoutFollowing(oldPath, DELETE | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
    if (!old) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? OldLogState::Gone : OldLogState::Kept;
    }
    if (!LiesWhereNamed(old.get(), folder.place, oldLeaf, false)) {
        return OldLogState::Linked;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(old.get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition))) {
        return OldLogState::Kept;
    }
    return OldLogState::Gone;
}

// The folder in the platform's native form ("\??\C:\...\"): its own
// resolved path, or its name where that cannot be had.
std::wstring NativeFolderPath(const CheckedFolder& folder) {
    std::wstring path = folder.place.finalPath;
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        return L"\\??\\" + path.substr(4);
    }
    path = folder.path + L"\\";
    if (path.compare(0, 2, L"\\\\") == 0) {
        return L"\\??\\UNC\\" + path.substr(2);
    }
    return L"\\??\\" + path;
}

// Renames the open file to leaf in the checked folder, never replacing a file there.
void RenameInFolder(HANDLE file, const CheckedFolder& folder, const std::wstring& leaf) {
    std::wstring target = NativeFolderPath(folder) + leaf;
    size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    target.copy(rename->FileName, target.size());
    SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

// Moves a log above the threshold aside to its .old name, through handles
// checked to lie where their names say. False when a link stands in place of
// the log or its .old: the log is then not used. Any other failure to rotate
// leaves the log where it is, and it keeps growing.
bool RotateWhenLarge(const CheckedFolder& folder, const std::wstring& path,
                     const std::wstring& leaf) {
    UniqueFileHandle log =
        OpenWithoutFollowing(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
    if (!log) {
        return true;  // missing, or held open by a launcher: nothing is moved
    }
    if (!LiesWhereNamed(log.get(), folder.place, leaf, false)) {
        return false;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(log.get(), &size) || size.QuadPart <= kLogRotationThreshold) {
        return true;
    }
    std::wstring oldFolder;
    std::wstring oldLeaf;
    std::wstring oldPath = RotatedLogPath(path);
    if (oldPath.size() >= kPathCapacity || !SplitLastComponent(oldPath, oldFolder, oldLeaf) ||
        oldFolder != folder.path) {
        return true;  // the rotated name would leave the log's folder
    }
    OldLogState old = DeleteOldLog(folder, oldPath, oldLeaf);
    // A launcher starting at the same time may have rotated the log meanwhile.
    if (old == OldLogState::Gone && LiesWhereNamed(log.get(), folder.place, leaf, false)) {
        RenameInFolder(log.get(), folder, oldLeaf);
    }
    return old != OldLogState::Linked;
}

}  // namespace

LogFile* CreateLogFile(const wchar_t* path) {
    LogFile* log = new (std::nothrow) LogFile();
    std::wstring folderPath;
    std::wstring leaf;
    if (log == nullptr || path == nullptr || !SplitLastComponent(path, folderPath, leaf)) {
        return log;
    }
    CheckedFolder folder;
    if (!OpenCheckedFolder(folderPath, folder) || !RotateWhenLarge(folder, path, leaf)) {
        return log;
    }
    UniqueFileHandle file = OpenForAppending(path);
    if (file && LiesWhereNamed(file.get(), folder.place, leaf, false)) {
        log->file = std::move(file);
    }
    return log;
}

LogFile* OpenLauncherLog(const wchar_t* folder) {
    CreateDirectoryW(folder, nullptr);
    std::wstring path = ComposeLogPath(folder);
    LogHandle = CreateLogFile(path.c_str());
    if (LogHandle == nullptr || !LogHandle->file) {
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
    if (handle == nullptr || !handle->file || format == nullptr) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    std::string bytes = FormatLogLine(GetLogTimestamp(), format, args);
    va_end(args);
    // The whole line in one write: concurrent launchers never split it.
    bool locked = TakeAppendLock(*handle);
    DWORD written = 0;
    BOOL done = WriteFile(handle->file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                          &written, nullptr);
    if (locked) {
        ReleaseAppendLock(*handle);
    }
    return done && written == bytes.size() ? 0 : -1;
}

void CloseLauncherLog() {
    if (LogHandle == nullptr) {
        return;
    }
    LogMessage(LogHandle, kExitBanner);
    delete LogHandle;
    LogHandle = nullptr;
}
