// Test helper for the package fuzzer: runs one program after another as a user
// would start it, each with a temporary folder of the caller's choosing, and
// reports how each run ended, one line of JSON per run:
//   {"exit": CODE, "timeout": false, "ms": 120, "boxes": [{"caption": "...", "text": "..."}]}
// Commands come on stdin, one a line, UTF-8: TEMP<TAB>PROGRAM<TAB>TIMEOUT_MS.
// A message box of the run is read and closed with OK; a run past its time-out
// is ended together with every process it started (a job holds them all).
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring FromUtf8(const std::string& text) {
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c) & 0xFFFF);
            out += escape;
        }
    }
    return out + "\"";
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

struct BoxSearch {
    DWORD processId;
    std::set<HWND>* seen;
    std::vector<std::string>* boxes;
};

// Reads every new message box of the run's processes and presses its OK.
BOOL CALLBACK CloseBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (owner != search->processId || std::wstring(className) != L"#32770" ||
        search->seen->count(window) != 0) {
        return TRUE;
    }
    search->seen->insert(window);
    Sleep(200);  // let the box finish setting its caption and text
    HWND textControl = GetDlgItem(window, 0xFFFF);
    search->boxes->push_back("{\"caption\": " + Json(WindowText(window)) + ", \"text\": " +
                             Json(textControl != nullptr ? WindowText(textControl) : L"") + "}");
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

std::string RunOne(const std::wstring& temp, const std::wstring& program, DWORD timeout) {
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    std::wstring commandLine = L"\"" + program + L"\"";
    std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &process)) {
        if (job != nullptr) {
            CloseHandle(job);
        }
        return "{\"error\": \"cannot start, error " + std::to_string(GetLastError()) + "\"}";
    }
    if (job != nullptr) {
        AssignProcessToJobObject(job, process.hProcess);
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    std::set<HWND> seen;
    std::vector<std::string> boxes;
    BoxSearch search{process.dwProcessId, &seen, &boxes};
    DWORD start = GetTickCount();
    bool timedOut = false;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        EnumWindows(CloseBox, reinterpret_cast<LPARAM>(&search));
        if (GetTickCount() - start > timeout) {
            timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    DWORD elapsed = GetTickCount() - start;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    if (job != nullptr) {
        TerminateJobObject(job, 0xDEAD);  // a client the run started goes too
        CloseHandle(job);
    }
    std::string line = "{\"exit\": " + std::to_string(code) +
                       ", \"timeout\": " + (timedOut ? "true" : "false") +
                       ", \"ms\": " + std::to_string(elapsed) + ", \"boxes\": [";
    for (size_t i = 0; i < boxes.size(); ++i) {
        line += (i ? ", " : "") + boxes[i];
    }
    return line + "]}";
}

}  // namespace

int wmain() {
    // A crash of a run ends that process with its exception code: no debugger, no box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    char buffer[8192];
    while (std::fgets(buffer, sizeof(buffer), stdin) != nullptr) {
        std::string command(buffer);
        while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) {
            command.pop_back();
        }
        size_t first = command.find('\t');
        size_t second = first == std::string::npos ? first : command.find('\t', first + 1);
        if (second == std::string::npos) {
            break;
        }
        std::wstring temp = FromUtf8(command.substr(0, first));
        std::wstring program = FromUtf8(command.substr(first + 1, second - first - 1));
        DWORD timeout = static_cast<DWORD>(std::stoul(command.substr(second + 1)));
        std::string line = RunOne(temp, program, timeout) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
