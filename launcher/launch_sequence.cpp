#include "launcher/launch_sequence.h"

#include <windows.h>

#include <cwchar>

#include "config/config_update.h"
#include "extract/extraction_driver.h"
#include "launcher/client_command.h"
#include "launcher/client_process.h"
#include "launcher/diagnostic_log.h"
#include "launcher/on_demand_system.h"
#include "launcher/problem_report.h"
#include "launcher/process_state.h"
#include "launcher/system_paths.h"
#include "launcher/text_conversion.h"
#include "package/archive_copy.h"
#include "package/package_probe.h"

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
        ShowMessageBox(nullptr, kCopyOutFailedText, nullptr, 0);
        return 0;
    }

    LocaleCodes = LocaleCodesFromText(WidePropertyText(properties));

    std::wstring workFolder = WorkFolderFromArchivePath(archivePath);
    std::wmemcpy(WorkFolder, workFolder.c_str(), workFolder.size() + 1);  // shorter than the path

    // Fails on a fresh run, where the folder does not exist yet.
    SetCurrentDirectoryW(WorkFolder);
    if (CreateDirectoryW(WorkFolder, nullptr)) {
        ExtractArchive(archivePath, WorkFolder);
        LogMessage(log, L"Done extracting all files\n");
        DeleteFileW(archivePath);
    }
    // An existing work folder: no extraction, the archive stays.

    if (std::wcslen(WorkFolder) > kMaxClientWorkFolderLength) {
        LogMessage(log, L"Work folder %s is too long to start the client from; no client started\n",
                   WorkFolder);
        CloseLauncherLog();
        return 0;
    }

    // The probe path is the work folder, "\" and the client fragment; the
    // doubled backslash and the trailing blank are ignored by the platform.
    std::wstring probePath = std::wstring(WorkFolder) + L"\\" + kPlaybackClientFragment;
    bool playbackClient = GetFileAttributesW(probePath.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (playbackClient) {
        LogMessage(log, L"About to update PBCF file\n");
    }
    ClientStart client = ComposeClientStart(WorkFolder, playbackClient);

    // Ends the process itself when a file it must read cannot be read.
    UpdatePBCF(client.configPath.c_str());

    StartClientProcess(client.commandLine.c_str(), 0);
    CloseLauncherLog();
    return 0;
}
