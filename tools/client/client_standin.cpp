// A stand-in for the playback client: it writes down how it was started (its
// command line, arguments, current directory and the configuration file it
// was given) and exits with code 0. When a marker file next to the report
// names a number of seconds, it stays running that long first, holding its
// executable in use.
#include "common/file_retry.h"
#include "common/unique_handle.h"
#include "tools/client/client_report.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD kLargestConfig = 16 * 1024 * 1024;

// The whole content of a file, or false when it cannot be read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return false;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > kLargestConfig) {
        return false;
    }
    bytes.assign(size, '\0');
    DWORD got = 0;
    if (size != 0 && (!ReadFile(file.get(), &bytes[0], size, &got, nullptr) || got != size)) {
        bytes.clear();
        return false;
    }
    return true;
}

// Writes the report beside its final name first, so that a reader never sees half of it.
void WriteReport(const std::wstring& path, const std::string& text) {
    std::wstring partial = path + L".partial";
    {
        UniqueFileHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return;
        }
        DWORD written = 0;
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    // An on-access scanner may hold the new file for a moment without sharing
    // its renaming: a client lives with that as the launcher does.
    RetryBudget budget(kRunRetryBudgetMs);
    RetryWhilePassing(
        [&]() { return MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING); },
        IsPassingFileError, budget);
}

std::wstring ProgramPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring CurrentDirectory() {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(needed, L'\0');
    DWORD length = GetCurrentDirectoryW(needed, &folder[0]);
    folder.resize(length < needed ? length : 0);
    return folder;
}

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return std::wstring();
    }
    std::wstring value(needed, L'\0');
    DWORD length = GetEnvironmentVariableW(name, &value[0], needed);
    value.resize(length < needed ? length : 0);
    return value;
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> argv;
    int count = 0;
    UniqueLocalMemory memory(CommandLineToArgvW(commandLine, &count));
    wchar_t** words = static_cast<wchar_t**>(memory.get());
    for (int i = 0; words != nullptr && i < count; ++i) {
        argv.emplace_back(words[i]);
    }
    return argv;
}

// Stays up to seconds, and ends as soon as the release file appears: a test
// ends the client once it has seen what it needs, not on a clock. (A file
// that appears, not one that goes: a sweep may remove the stay marker.)
void StayUntilReleased(const std::wstring& release, unsigned seconds) {
    constexpr DWORD kLookEveryMs = 50;
    for (DWORD waited = 0; waited < seconds * 1000; waited += kLookEveryMs) {
        if (GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return;
        }
        Sleep(kLookEveryMs);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ObservedStart start;
    start.program = ProgramPath();
    start.commandLine = GetCommandLineW();
    start.argv = SplitCommandLine(GetCommandLineW());
    start.currentDirectory = CurrentDirectory();
    start.processId = GetCurrentProcessId();
    if (start.argv.size() > 1) {
        start.configPath = start.argv[1];
        start.configRead = ReadWholeFile(start.configPath, start.configBytes);
    }

    std::wstring folder = ReportFolder(start.program);
    std::string marker;
    if (ReadWholeFile(folder + L"\\" + kStayMarkerName, marker)) {
        start.staySeconds = StaySeconds(marker);
    }
    std::wstring report = EnvironmentValue(kReportVariable);
    if (report.empty()) {
        report = folder + L"\\" + kReportFileName;
    }
    WriteReport(report, FormatReport(start));
    StayUntilReleased(folder + L"\\" + kReleaseFileName, start.staySeconds);
    return 0;
}
