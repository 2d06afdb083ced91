#include "launcher/launch_sequence.h"

#include <windows.h>

#include "launcher/diagnostic_log.h"
#include "launcher/problem_report.h"
#include "launcher/process_state.h"
#include "package/package_probe.h"

namespace {

constexpr int kNoPackageProblem = 201;

std::wstring DetermineLogFolder() {
    wchar_t temp[kPathCapacity] = {};
    DWORD length = GetTempPathW(kPathCapacity, temp);
    if (length >= kPathCapacity) {
        temp[0] = L'\0';
    }
    if (length > 0 && length < kPathCapacity && temp[length - 1] == L'\\') {
        temp[length - 1] = L'\0';
    }
    wchar_t shortPath[kPathCapacity] = {};
    DWORD shortLength = GetShortPathNameW(temp, shortPath, kPathCapacity);
    const wchar_t* folder = (shortLength > 0 && shortLength < kPathCapacity) ? shortPath : temp;
    return LogFolderFromTempPath(folder);
}

}  // namespace

std::wstring LogFolderFromTempPath(const std::wstring& tempPath) {
    std::wstring folder = tempPath;
    if (!folder.empty() && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder + kLogFolderFragment;
}

int RunLaunchSequence(const char* commandLine) {
    std::wstring logFolder = DetermineLogFolder();
    LogFile* log = OpenLauncherLog(logFolder.c_str());
    (void)log;

    char* properties = GetPackageProperties();
    if (properties == nullptr) {
        ReportProblem(kNoPackageProblem, commandLine != nullptr ? commandLine : "");
        CloseLauncherLog();
        return 0;
    }

    CloseLauncherLog();
    return 0;
}
