#include "launcher/client_process.h"

#include "diagnostics/diagnostic_log.h"
#include "common/run_failure.h"
#include "common/system_libraries.h"
#include "common/unique_handle.h"
#include "common/wide_format.h"

#include <cwchar>
#include <memory>
#include <new>

namespace {

ClientFirstMoments WatchClientProcess(HANDLE process);

// Creates the process from a copy of commandLine (creation may write into
// it). False, with the failure line logged and error set, when it fails.
bool CreateLoggedProcess(const wchar_t* commandLine, int hidden, PROCESS_INFORMATION& info,
                         DWORD& error) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    const wchar_t* source = commandLine != nullptr ? commandLine : L"";
    size_t length = wcslen(source);
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length + 1]);
    if (copy == nullptr) {
        LogMessage(LogHandle, L"CreateProcess not attempted: no memory for the command line\n");
        error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    wmemcpy(copy.get(), source, length + 1);

    DWORD flags = NORMAL_PRIORITY_CLASS;
    if (hidden != 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        flags = CREATE_NEW_CONSOLE;
    }
    if (ProcessCreation(nullptr, copy.get(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &info)) {
        return true;
    }
    error = GetLastError();
    LogMessage(LogHandle, L"CreateProcess failed. Command: \"%s\" Error Code: %d\n", copy.get(),
               static_cast<int>(error));
    return false;
}

// Why the client could not be created. A program this run extracted that is
// missing now was taken away after it was written: antivirus, as a rule.
RunFailure StartFailureCause(DWORD error, bool programExtracted) {
    if (programExtracted && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        return RunFailure::AntivirusBlocked;
    }
    return RunFailureFromSystemError(error, RunFailure::ClientFailed);
}

struct StatusMeaning {
    DWORD status;
    const wchar_t* meaning;
};
constexpr StatusMeaning kStatusMeanings[] = {
    {0xC0000135, L"a DLL it needs was not found"},
    {0xC0000139, L"a function it needs was not found in a DLL"},
    {0xC000007B, L"it or a DLL it needs is not a valid program for this computer"},
    {0xC0000142, L"a DLL it needs could not start"},
    {0xC06D007E, L"a DLL it loads on demand was not found"},
    {0xC0000022, L"it was denied access to a file it needs"},
    {0xC0000005, L"it crashed (access violation)"},
    {0xC000001D, L"it uses processor instructions this computer lacks"},
    {0xC0000409, L"it stopped itself after a fault (stack buffer overrun)"},
};

const wchar_t* StatusMeaningOf(DWORD status) {
    for (const StatusMeaning& known : kStatusMeanings) {
        if (known.status == status) {
            return known.meaning;
        }
    }
    return L"an error status";
}

}  // namespace

ProcessCreateFunction ProcessCreation = CreateProcessW;
ClientWatchFunction ClientWatch = WatchClientProcess;

namespace {

// A client that waits for input (a window up) has got going; one without a
// message queue (a console program) answers at once, and the rest of the time
// is spent waiting for it to end.
ClientFirstMoments WatchClientProcess(HANDLE process) {
    ULONGLONG start = GetTickCount64();
    if (SystemWaitForInputIdle(process, kClientWatchMilliseconds) == WAIT_FAILED) {
        ULONGLONG spent = GetTickCount64() - start;
        DWORD left = spent < kClientWatchMilliseconds
                         ? kClientWatchMilliseconds - static_cast<DWORD>(spent)
                         : 0;
        WaitForSingleObject(process, left);
    }
    ClientFirstMoments moments;
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE) {
        moments.ended = true;
        moments.exitCode = exitCode;
    }
    return moments;
}

}  // namespace

int StartClientProcess(const wchar_t* commandLine, int wait) {
    return LaunchProcess(commandLine, wait, 0);
}

int LaunchProcess(const wchar_t* commandLine, int wait, int hidden) {
    PROCESS_INFORMATION info = {};
    DWORD error = 0;
    if (!CreateLoggedProcess(commandLine, hidden, info, error)) {
        return 0;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    if (wait != 0) {
        WaitForSingleObject(process.get(), INFINITE);
    }
    // Closed in this order: the process handle first, then the thread handle.
    process.reset();
    thread.reset();
    return 1;
}

bool StartWatchedClient(const ClientStart& client, bool programExtracted) {
    PROCESS_INFORMATION info = {};
    DWORD error = 0;
    if (!CreateLoggedProcess(client.commandLine.c_str(), 0, info, error)) {
        NoteRunFailure(StartFailureCause(error, programExtracted), error, client.programPath);
        return false;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    // The user started the launcher, so it may take the foreground; its
    // client, which opens its window later, may only with this leave.
    SystemAllowSetForegroundWindow(info.dwProcessId);
    ClientFirstMoments moments = ClientWatch(process.get());
    if (!moments.ended || !IsFailureStatus(moments.exitCode)) {
        return true;
    }
    LogMessage(LogHandle, L"Client %s ended at once: %s\n", client.programPath.c_str(),
               ClientFailureReason(moments.exitCode).c_str());
    NoteRunFailure(RunFailure::ClientFailed, moments.exitCode, client.programPath);
    return false;
}

bool IsFailureStatus(DWORD exitCode) {
    return (exitCode & 0xC0000000u) == 0xC0000000u;
}

std::wstring ClientFailureReason(DWORD code) {
    return IsFailureStatus(code)
               ? FormatWideString(L"status 0x%08lX: %s", code, StatusMeaningOf(code))
               : FormatWideString(L"error %lu", code);
}
