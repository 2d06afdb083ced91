// Test helper: a stand-in for an on-access scanner, an indexer or a backup
// agent. It watches a folder and what lies below it (ReadDirectoryChangesW,
// overlapped) and opens every file that is created or written, for reading
// and sharing reading only, as soon as the writer lets it, and holds it for a
// while: meanwhile nobody can write, delete or rename the file.
//   scanner.exe --watch FOLDER --ready FILE --stop FILE [--hold MS] [--quarantine]
// FILE of --ready is written once the watch is in place; the scanner ends
// once the --stop FILE exists, and prints one line of JSON: how many files it
// held, and which it removed. With --quarantine, every bin\velmar.exe is
// deleted as soon as it can be opened, as antivirus quarantines a new
// executable. Exit code 0, or 2 for bad arguments or a folder it cannot watch.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD kTickMs = 5;
constexpr ULONGLONG kKeepTryingMs = 3000;  // after the last change seen
constexpr DWORD kWatchedChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

struct Options {
    std::wstring watch;
    std::wstring ready;
    std::wstring stop;
    DWORD holdMs = 300;
    bool quarantine = false;
};

struct Held {
    HANDLE handle;
    ULONGLONG until;
};

struct Scanner {
    Options options;
    std::map<std::wstring, ULONGLONG> waiting;  // path -> give up after
    std::map<std::wstring, Held> held;
    std::vector<std::wstring> removed;
    int heldCount = 0;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::wstring name = argv[i];
        if (name == L"--quarantine") {
            options.quarantine = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        std::wstring value = argv[++i];
        if (name == L"--watch") {
            options.watch = value;
        } else if (name == L"--ready") {
            options.ready = value;
        } else if (name == L"--stop") {
            options.stop = value;
        } else if (name == L"--hold") {
            options.holdMs = static_cast<DWORD>(_wtoi(value.c_str()));
        } else {
            return false;
        }
    }
    return !options.watch.empty() && !options.ready.empty() && !options.stop.empty();
}

bool IsQuarantined(const std::wstring& path) {
    const std::wstring client = L"\\bin\\velmar.exe";
    return path.size() > client.size() &&
           CompareStringOrdinal(path.c_str() + path.size() - client.size(),
                                static_cast<int>(client.size()), client.c_str(),
                                static_cast<int>(client.size()), TRUE) == CSTR_EQUAL;
}

// A change reported under the watched folder: the file is to be opened.
void Notice(Scanner& scanner, const std::wstring& path) {
    if (scanner.held.count(path) == 0) {
        scanner.waiting[path] = GetTickCount64() + kKeepTryingMs;
    }
}

void ReadNotifications(Scanner& scanner, const unsigned char* buffer, DWORD size) {
    DWORD offset = 0;
    while (size != 0 && offset + sizeof(FILE_NOTIFY_INFORMATION) <= size) {
        const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + offset);
        if (entry->Action == FILE_ACTION_ADDED || entry->Action == FILE_ACTION_MODIFIED ||
            entry->Action == FILE_ACTION_RENAMED_NEW_NAME) {
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            Notice(scanner, scanner.options.watch + L"\\" + name);
        }
        if (entry->NextEntryOffset == 0) {
            break;
        }
        offset += entry->NextEntryOffset;
    }
}

// Tries to open one waiting file; false while it is to be tried again.
bool TryToOpen(Scanner& scanner, const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;  // gone, or a folder: nothing to scan
    }
    bool quarantine = scanner.options.quarantine && IsQuarantined(path);
    DWORD access = GENERIC_READ | (quarantine ? DELETE : 0);
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() != ERROR_SHARING_VIOLATION;  // still being written: again later
    }
    ++scanner.heldCount;
    if (quarantine) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                       sizeof(disposition))) {
            scanner.removed.push_back(path);
        }
        CloseHandle(file);
        return true;
    }
    scanner.held[path] = Held{file, GetTickCount64() + scanner.options.holdMs};
    return true;
}

void Tick(Scanner& scanner) {
    ULONGLONG now = GetTickCount64();
    for (auto it = scanner.held.begin(); it != scanner.held.end();) {
        if (now < it->second.until) {
            ++it;
            continue;
        }
        CloseHandle(it->second.handle);
        it = scanner.held.erase(it);
    }
    for (auto it = scanner.waiting.begin(); it != scanner.waiting.end();) {
        if (TryToOpen(scanner, it->first) || now > it->second) {
            it = scanner.waiting.erase(it);
        } else {
            ++it;
        }
    }
}

bool WriteReadyFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    WriteFile(file, "watching\n", 9, &written, nullptr);
    CloseHandle(file);
    return true;
}

std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

void PrintSummary(const Scanner& scanner) {
    std::string removed;
    for (const std::wstring& path : scanner.removed) {
        std::string escaped;
        for (char c : Utf8(path)) {
            escaped += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
        }
        removed += (removed.empty() ? "\"" : ", \"") + escaped + "\"";
    }
    std::printf("{\"held\": %d, \"removed\": [%s]}\n", scanner.heldCount, removed.c_str());
    std::fflush(stdout);
}

// Watches until the stop file appears.
int Watch(Scanner& scanner) {
    HANDLE folder =
        CreateFileW(scanner.options.watch.c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return 2;
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    alignas(DWORD) static unsigned char buffer[64 * 1024];
    auto issue = [&]() {
        ResetEvent(overlapped.hEvent);
        return ReadDirectoryChangesW(folder, buffer, sizeof(buffer), TRUE, kWatchedChanges, nullptr,
                                     &overlapped, nullptr) != 0;
    };
    if (!issue() || !WriteReadyFile(scanner.options.ready)) {
        return 2;
    }
    while (GetFileAttributesW(scanner.options.stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (WaitForSingleObject(overlapped.hEvent, kTickMs) == WAIT_OBJECT_0) {
            DWORD size = 0;
            if (GetOverlappedResult(folder, &overlapped, &size, FALSE)) {
                ReadNotifications(scanner, buffer, size);
            }
            if (!issue()) {
                break;
            }
        }
        Tick(scanner);
    }
    for (auto& entry : scanner.held) {
        CloseHandle(entry.second.handle);
    }
    CancelIo(folder);
    CloseHandle(folder);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Scanner scanner;
    if (!ParseOptions(argc, argv, scanner.options)) {
        std::fprintf(stderr,
                     "usage: scanner.exe --watch FOLDER --ready FILE --stop FILE [--hold MS] "
                     "[--quarantine]\n");
        return 2;
    }
    while (!scanner.options.watch.empty() && scanner.options.watch.back() == L'\\') {
        scanner.options.watch.pop_back();
    }
    int result = Watch(scanner);
    PrintSummary(scanner);
    return result;
}
