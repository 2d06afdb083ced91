// The I/O floor of a launch: copies the archive out of a package in large
// blocks, then extracts it (and every nested zip archive) with minizip and
// zlib into Win32 files, 16 KiB at a time. No log, no times, no attributes,
// no checks beyond what minizip does: what any extractor has to pay.
// With CLIENT (a path below OUTPUT_FOLDER) it then starts that program without
// waiting for it, as a launch starts its client: the floor of a launch that
// must start one.
// Usage: velmar-bench-floor PACKAGE ARCHIVE_OFFSET ARCHIVE_COPY OUTPUT_FOLDER [CLIENT]
// Exit code 0 when every step worked.
#include <windows.h>

// iowin32.h needs ioapi.h first (for OF and the I/O types).
#include <unzip.h>
#include <iowin32.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kCopyBlock = 1 << 20;
constexpr unsigned kEntryChunk = 16384;

bool CopyOut(const wchar_t* package, LONGLONG offset, const wchar_t* copy) {
    HANDLE source =
        CreateFileW(package, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE target = CreateFileW(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER start;
    start.QuadPart = offset;
    bool ok = source != INVALID_HANDLE_VALUE && target != INVALID_HANDLE_VALUE &&
              SetFilePointerEx(source, start, nullptr, FILE_BEGIN);
    std::vector<unsigned char> block(kCopyBlock);
    DWORD got = 0;
    while (ok && ReadFile(source, block.data(), kCopyBlock, &got, nullptr) && got > 0) {
        DWORD written = 0;
        ok = WriteFile(target, block.data(), got, &written, nullptr) && written == got;
    }
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    if (target != INVALID_HANDLE_VALUE)
        CloseHandle(target);
    return ok;
}

void CreateParents(const std::wstring& path) {
    for (size_t i = path.find(L'\\', 3); i != std::wstring::npos; i = path.find(L'\\', i + 1)) {
        CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

bool WriteEntry(unzFile archive, const std::wstring& path, std::vector<unsigned char>& buffer) {
    HANDLE output = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        CreateParents(path);
        output = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    }
    bool ok = output != INVALID_HANDLE_VALUE && unzOpenCurrentFile(archive) == UNZ_OK;
    int got = 0;
    while (ok && (got = unzReadCurrentFile(archive, buffer.data(), kEntryChunk)) > 0) {
        DWORD written = 0;
        ok = WriteFile(output, buffer.data(), static_cast<DWORD>(got), &written, nullptr) &&
             written == static_cast<DWORD>(got);
    }
    ok = ok && got == 0 && unzCloseCurrentFile(archive) == UNZ_OK;
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    return ok;
}

bool Extract(const std::wstring& archivePath, const std::wstring& folder) {
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    unzFile archive = unzOpen2_64(archivePath.c_str(), &io);
    if (archive == nullptr) {
        return false;
    }
    std::vector<unsigned char> buffer(kEntryChunk);
    bool ok = true;
    for (int step = unzGoToFirstFile(archive); step == UNZ_OK; step = unzGoToNextFile(archive)) {
        unz_file_info64 info;
        char name[260];
        if (unzGetCurrentFileInfo64(archive, &info, name, sizeof(name), nullptr, 0, nullptr, 0) !=
            UNZ_OK) {
            ok = false;
            continue;
        }
        wchar_t wide[260] = {};
        MultiByteToWideChar((info.flag & 0x800) ? CP_UTF8 : CP_ACP, 0, name, -1, wide, 259);
        std::wstring relative(wide);
        for (wchar_t& c : relative) {
            if (c == L'/')
                c = L'\\';
        }
        std::wstring path = folder + L"\\" + relative;
        if (!relative.empty() && relative.back() == L'\\') {
            CreateParents(path);
            continue;
        }
        ok = WriteEntry(archive, path, buffer) && ok;
        if (relative.size() > 4 && relative.compare(relative.size() - 4, 4, L".zip") == 0) {
            ok = Extract(path, folder) && ok;
        }
    }
    unzClose(archive);
    return ok;
}

// The arguments of the command line, split at blanks outside double quotes
// (the shell's CommandLineToArgvW would load shell32 and user32, which a bare
// extractor does not need).
std::vector<std::wstring> Arguments() {
    std::vector<std::wstring> arguments;
    std::wstring current;
    bool quoted = false, inArgument = false;
    for (const wchar_t* c = GetCommandLineW(); *c != L'\0'; ++c) {
        if (*c == L'"') {
            quoted = !quoted;
            inArgument = true;
        } else if (!quoted && (*c == L' ' || *c == L'\t')) {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += *c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

}  // namespace

// Starts the program and lets it run on its own.
bool StartClient(const std::wstring& program) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return true;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> args = Arguments();
    if (args.size() != 5 && args.size() != 6) {
        return 2;
    }
    if (!CopyOut(args[1].c_str(), _wtoi64(args[2].c_str()), args[3].c_str())) {
        return 3;
    }
    CreateDirectoryW(args[4].c_str(), nullptr);
    bool ok = Extract(args[3], args[4]);
    DeleteFileW(args[3].c_str());
    if (!ok) {
        return 4;
    }
    return args.size() == 6 && !StartClient(args[4] + L"\\" + args[5]) ? 5 : 0;
}
