// Test helper: starts a program the way Explorer would after a double-click,
// but with a temporary folder of the test's choosing (TMP and TEMP), waits for
// it and returns its exit code.
//   runwith.exe --temp C:\path\to\temp [--nowait] -- PROGRAM [ARGS...]
// With --nowait it prints the process id and returns 0 at once.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Quotes one argument by the usual command-line rules.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        if (c == L'"') {
            out.append(slashes * 2 + 1, L'\\');
        } else {
            out.append(slashes, L'\\');
        }
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring temp;
    bool wait = true;
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--temp" && i + 1 < argc) {
            temp = argv[++i];
        } else if (arg == L"--nowait") {
            wait = false;
        } else if (arg == L"--") {
            ++i;
            break;
        }
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: runwith.exe --temp DIR [--nowait] -- PROGRAM [ARGS...]\n");
        return 2;
    }
    if (!temp.empty()) {
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
    }
    std::wstring program = argv[i];
    std::wstring commandLine = Quote(program);
    for (int j = i + 1; j < argc; ++j) {
        commandLine += L" " + Quote(argv[j]);
    }
    // The program's own folder as its current directory, as Explorer does.
    std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // A package written a moment ago has once failed to start at the first try
    // under a busy Wine, failing a long test for nothing: a missing program
    // fails at once, any other failure gets two more tries after a pause.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started =
            CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder.empty() ? nullptr : folder.c_str(), &startup, &process) != FALSE;
        if (!started) {
            DWORD error = GetLastError();
            std::fprintf(stderr, "runwith: cannot start program, error %lu\n", error);
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
                break;
            }
            Sleep(300);
        }
    }
    if (!started) {
        return 125;
    }
    CloseHandle(process.hThread);
    if (!wait) {
        std::printf("%lu\n", process.dwProcessId);
        CloseHandle(process.hProcess);
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
