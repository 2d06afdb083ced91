// Runs one program and reports, on one line of stdout, its wall time from
// process creation to exit, its peak working set and its exit code:
//   wall_ms=123.4 peak_kib=5678 exit=0
// Usage: velmar-bench-starter PROGRAM [ARGS...]   (the rest of the command
// line is the child's command line, unchanged)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

namespace {

// The command line less the starter's own program name.
wchar_t* ChildCommandLine() {
    wchar_t* line = GetCommandLineW();
    bool quoted = false;
    for (; *line != L'\0'; ++line) {
        if (*line == L'"') {
            quoted = !quoted;
        } else if (!quoted && (*line == L' ' || *line == L'\t')) {
            break;
        }
    }
    while (*line == L' ' || *line == L'\t') {
        ++line;
    }
    return line;
}

SIZE_T PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.PeakWorkingSetSize
                                                                      : 0;
}

}  // namespace

int main() {
    wchar_t* command = ChildCommandLine();
    if (*command == L'\0') {
        std::fprintf(stderr, "usage: velmar-bench-starter PROGRAM [ARGS...]\n");
        return 2;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start the program: error %lu\n", GetLastError());
        return 3;
    }
    // The peak is sampled while the program runs as well: not every platform
    // keeps the counters of a process that has ended.
    SIZE_T peak = 0;
    while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
        SIZE_T now = PeakWorkingSet(process.hProcess);
        peak = now > peak ? now : peak;
    }
    QueryPerformanceCounter(&end);
    SIZE_T last = PeakWorkingSet(process.hProcess);
    peak = last > peak ? last : peak;
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    double ms = 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                static_cast<double>(frequency.QuadPart);
    std::printf("wall_ms=%.1f peak_kib=%lu exit=%lu\n", ms, static_cast<unsigned long>(peak / 1024),
                exitCode);
    return 0;
}
