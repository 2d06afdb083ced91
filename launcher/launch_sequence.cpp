#include "launcher/launch_sequence.h"

#include <windows.h>

#include <cwchar>

#include "config/config_update.h"
#include "extract/extraction_driver.h"
#include "launcher/client_command.h"
#include "launcher/client_process.h"
#include "diagnostics/diagnostic_log.h"
#include "diagnostics/problem_report.h"
#include "common/process_state.h"
#include "common/system_libraries.h"
#include "common/system_paths.h"
#include "common/text_conversion.h"
#include "package/archive_copy.h"
#include "package/package_probe.h"
#include "package/workspace_folders.h"

namespace {

constexpr int kNoPackageProblem = 201;
constexpr int kPackageProblem = 201;
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

// Shows problem 201 with its insert, writes the exit banner and gives the
// exit code of a run that ends after that problem.
int EndWithProblem(const std::wstring& insert) {
    ReportProblem(kPackageProblem, insert.c_str());
    CloseLauncherLog();
    return kProblemExitCode;
}

// Removes the work folder that this run created, with what it extracted.
void RemoveOwnWorkFolder() {
    // The work folder is the current directory; a folder in use cannot be removed.
    std::wstring offPlay = WorkFolder;
    offPlay.resize(offPlay.find_last_of(L'\\') + 1);
    SetCurrentDirectoryW(offPlay.c_str());
    // The folder is this run's own: read-only entries it extracted go too.
    RemoveFolderTree(WorkFolder, ReadOnlyEntries::Clear);
    // A file held open by another program keeps it.
    if (GetFileAttributesW(WorkFolder) != INVALID_FILE_ATTRIBUTES) {
        LogMessage(LogHandle, L"Work folder %s could not be removed completely\n", WorkFolder);
    }
}

// A damaged payload: nothing of this run's extraction stays behind, neither
// the work folder nor the temporary archive, and the user is told.
int EndDamagedRun(LogFile* log) {
    std::wstring package = PackagePath();
    LogMessage(log, L"Package %s is damaged; removing what this run extracted\n", package.c_str());
    RemoveOwnWorkFolder();
    DeleteTemporaryArchive();
    return EndWithProblem(package);
}

// No client can be started from the tree this run extracted: the tree is of
// no use to anyone, so it goes, and the user is told which program could not
// start.
int EndWithoutClient(const ClientStart& client) {
    RemoveOwnWorkFolder();
    return EndWithProblem(client.programPath);
}

// Extracts the payload into the work folder that this run has just created.
// False when the package is damaged.
bool ExtractPayload(LogFile* log, const wchar_t* archivePath) {
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

// Rewrites the configuration of the extracted payload and starts its client.
int StartPlayback(LogFile* log) {
    // The probe path is the work folder, "\" and the client fragment; the
    // doubled backslash and the trailing blank are ignored by the platform.
    std::wstring probePath = std::wstring(WorkFolder) + L"\\" + kPlaybackClientFragment;
    bool playbackClient = GetFileAttributesW(probePath.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (playbackClient) {
        LogMessage(log, L"About to update PBCF file\n");
    }
    ClientStart client = ComposeClientStart(WorkFolder, playbackClient);
    if (std::wcslen(WorkFolder) > kMaxClientWorkFolderLength) {
        LogMessage(log, L"Work folder %s is too long to start the client from; no client started\n",
                   WorkFolder);
        return EndWithoutClient(client);
    }

    // Ends the process itself when a file it must read cannot be read.
    UpdatePBCF(client.configPath.c_str(), playbackClient);

    if (StartClientProcess(client.commandLine.c_str(), 0) == 0) {
        return EndWithoutClient(client);
    }
    CloseLauncherLog();
    return 0;
}

}  // namespace

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
        return EndDamagedRun(log);
    }
    return StartPlayback(log);
}
