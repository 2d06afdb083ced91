#include "launcher/launch_sequence.h"

#include <windows.h>

#include <cwchar>

#include "config/config_update.h"
#include "extract/extraction_driver.h"
#include "extract/extraction_failure.h"
#include "launcher/client_command.h"
#include "launcher/client_process.h"
#include "launcher/run_failure_report.h"
#include "diagnostics/diagnostic_log.h"
#include "diagnostics/problem_report.h"
#include "common/process_state.h"
#include "common/run_failure.h"
#include "common/system_libraries.h"
#include "common/system_paths.h"
#include "common/text_conversion.h"
#include "package/archive_copy.h"
#include "package/offplay_runs.h"
#include "package/package_probe.h"
#include "package/workspace_folders.h"

namespace {

constexpr int kNoPackageProblem = 201;
constexpr const wchar_t* kCopyOutFailedText = L"Failed to extract the exe file.";
constexpr size_t kArchiveExtensionLength = 4;  // ".zip"

// Without a temporary folder the log folder sits at the root of the current drive.
std::wstring DetermineLogFolder() {
    return LogFolderFromTempPath(ShortPathOf(TemporaryFolderPath()));
}

// Copies the first two characters at from onwards that lie before the end of text.
void CopyCode(const std::wstring& text, size_t from, wchar_t (&code)[3]) {
    size_t n = 0;
    for (; n < 2 && from + n < text.size(); ++n) {
        code[n] = text[from + n];
    }
    code[n] = L'\0';
}

// A client is started only from a work folder that this run made itself: one
// that exists already holds some other run's content. Then this run's
// archive goes, and the run ends as a failed copy-out.
bool CreateWorkFolder(LogFile* log) {
    if (CreateDirectoryW(WorkFolder, nullptr)) {
        return true;
    }
    LogMessage(log, L"Can't create the work folder %s (error %d); no client started from it\n",
               WorkFolder, static_cast<int>(GetLastError()));
    DeleteTemporaryArchive();
    return false;
}

// The running package's own full path, the insert of the problem it reports.
std::wstring PackagePath() {
    wchar_t path[kPathCapacity] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, kPathCapacity);
    return length > 0 && length < kPathCapacity ? std::wstring(path, length) : std::wstring();
}

// The size of a file, 0 when it cannot be told (it is gone).
unsigned long long FileSizeOf(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The payload could not be extracted in full. During the extraction both the
// temporary archive and the files its entries declare lie on the drive.
int EndUnextractedRun(LogFile* log, const wchar_t* archivePath) {
    std::wstring package = PackagePath();
    if (FirstRunFailure().cause == RunFailure::None ||
        FirstRunFailure().cause == RunFailure::DamagedPackage) {
        LogMessage(log, L"Package %s is damaged; removing what this run extracted\n",
                   package.c_str());
    } else {
        LogMessage(log, L"Package %s could not be extracted; removing what this run extracted\n",
                   package.c_str());
    }
    return EndFailedRun(DeclaredSpaceOfRun() + FileSizeOf(archivePath));
}

// Extracts the payload into the work folder that this run has just created.
// False when the package is damaged.
bool ExtractPayload(LogFile* log, const wchar_t* archivePath) {
    WatchForEntries({kRunClientPath + 1, kAlternativeClientPath + 1});
    if (!ExtractArchive(archivePath, WorkFolder)) {
        return false;
    }
    LogMessage(log, L"Done extracting all files\n");
    DeleteTemporaryArchive();
    return true;
}

// The work folder rec_N beside the temporary archive: named for the later
// steps, entered and created new.
bool SetUpWorkFolder(LogFile* log, const wchar_t* archivePath) {
    std::wstring workFolder = WorkFolderFromArchivePath(archivePath);
    std::wmemcpy(WorkFolder, workFolder.c_str(), workFolder.size() + 1);  // shorter than the path
    // Fails on a fresh run, where the folder does not exist yet.
    SetCurrentDirectoryW(WorkFolder);
    return CreateWorkFolder(log);
}

// The playback client that this run extracted is gone before it could be
// started: something removed it once written, as antivirus does.
bool PlaybackClientRemoved(LogFile* log, bool playbackClient) {
    std::wstring program = std::wstring(WorkFolder) + kRunClientPath;
    if (playbackClient || !WatchedEntryExtracted(kRunClientPath + 1)) {
        return false;
    }
    LogMessage(log,
               L"File %s that this run extracted is gone; antivirus software may have "
               L"removed it\n",
               program.c_str());
    NoteRunFailure(RunFailure::AntivirusBlocked, ERROR_FILE_NOT_FOUND, program);
    return true;
}

// Rewrites the configuration of the extracted payload and starts its client.
int StartPlayback(LogFile* log) {
    // The probe path is the work folder, "\" and the client fragment; the
    // doubled backslash and the trailing blank are ignored by the platform.
    std::wstring probePath = std::wstring(WorkFolder) + L"\\" + kPlaybackClientFragment;
    bool playbackClient = GetFileAttributesW(probePath.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (playbackClient) {
        LogMessage(log, L"About to update PBCF file\n");
    }
    if (PlaybackClientRemoved(log, playbackClient)) {
        return EndFailedRun(0);
    }
    ClientStart client = ComposeClientStart(WorkFolder, playbackClient);
    if (std::wcslen(WorkFolder) > kMaxClientWorkFolderLength) {
        LogMessage(log, L"Work folder %s is too long to start the client from; no client started\n",
                   WorkFolder);
        NoteRunFailure(RunFailure::PathTooLong, ERROR_FILENAME_EXCED_RANGE, WorkFolder);
        return EndFailedRun(0);
    }

    // Ends the process itself when a file it must read cannot be read.
    UpdatePBCF(client.configPath.c_str(), playbackClient);

    const wchar_t* entry = (playbackClient ? kRunClientPath : kAlternativeClientPath) + 1;
    if (!StartWatchedClient(client, WatchedEntryExtracted(entry))) {
        return EndFailedRun(0);
    }
    CloseLauncherLog();
    return 0;
}

}  // namespace

int EndFailedRun(unsigned long long spaceNeeded) {
    RemoveRunWorkFolder();
    DeleteTemporaryArchive();
    ReportRunFailure(PackagePath(), spaceNeeded);
    CloseLauncherLog();
    return kProblemExitCode;
}

std::wstring LogFolderFromTempPath(const std::wstring& tempPath) {
    std::wstring folder = tempPath;
    if (!folder.empty() && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder + kLogFolderFragment;
}

std::wstring WidePropertyText(const char* text) {
    if (text == nullptr) {
        return std::wstring();
    }
    std::wstring wide;
    if (!WideFromCodePage(CP_ACP, text, 0, wide) || wide.size() + 1 > kWidePropertyCapacity) {
        return std::wstring();
    }
    return wide;
}

LocaleCodeSet LocaleCodesFromText(const std::wstring& text) {
    LocaleCodeSet codes = {};
    CopyCode(text, 0, codes.language);
    CopyCode(text, 3, codes.country);
    return codes;
}

std::wstring WorkFolderFromArchivePath(const std::wstring& archivePath) {
    if (archivePath.size() < kArchiveExtensionLength) {
        return std::wstring();
    }
    return archivePath.substr(0, archivePath.size() - kArchiveExtensionLength);
}

int RunLaunchSequence(const char* commandLine) {
    std::wstring logFolder = DetermineLogFolder();
    LogFile* log = OpenLauncherLog(logFolder.c_str());

    char* properties = GetPackageProperties();
    if (properties == nullptr) {
        ReportProblem(kNoPackageProblem, commandLine != nullptr ? commandLine : "");
        CloseLauncherLog();
        return 0;
    }

    // Copy-out. Its failure ends the run without the exit banner.
    wchar_t archivePath[kPathCapacity] = {};
    if (GetZipFromExe(archivePath) == 0) {
        SystemMessageBoxW(nullptr, kCopyOutFailedText, nullptr, 0);
        return 0;
    }

    LocaleCodes = LocaleCodesFromText(WidePropertyText(properties));
    if (!SetUpWorkFolder(log, archivePath)) {
        SystemMessageBoxW(nullptr, kCopyOutFailedText, nullptr, 0);
        return 0;
    }
    if (!ExtractPayload(log, archivePath)) {
        return EndUnextractedRun(log, archivePath);
    }
    return StartPlayback(log);
}
