#include "launcher/client_process.h"

#include "diagnostics/diagnostic_log.h"
#include "common/unique_handle.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

int StartClientProcess(const wchar_t* commandLine, int wait) {
    return LaunchProcess(commandLine, wait, 0);
}

int LaunchProcess(const wchar_t* commandLine, int wait, int hidden) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};

    // Process creation may write into its command line, so it gets a copy.
    const wchar_t* source = commandLine != nullptr ? commandLine : L"";
    size_t length = wcslen(source);
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length + 1]);
    if (copy == nullptr) {
        LogMessage(LogHandle, L"CreateProcess not attempted: no memory for the command line\n");
        return 0;
    }
    wmemcpy(copy.get(), source, length + 1);

    DWORD flags = NORMAL_PRIORITY_CLASS;
    if (hidden != 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        flags = CREATE_NEW_CONSOLE;
    }
    BOOL created = CreateProcessW(nullptr, copy.get(), nullptr, nullptr, FALSE, flags, nullptr,
                                  nullptr, &startup, &info);
    if (!created) {
        DWORD error = GetLastError();
        LogMessage(LogHandle, L"CreateProcess failed. Command: \"%s\" Error Code: %d\n", copy.get(),
                   static_cast<int>(error));
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
    return created;
}
