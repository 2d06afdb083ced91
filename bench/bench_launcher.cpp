// The launcher of the launch benchmark: the real launch sequence, with two
// settings read from the environment that the shipped launcher does not have.
//   VELMAR_BENCH_SCAN_MS=N  each close of an extracted file waits N ms first:
//                           an on-access scanner scans a new file when it is
//                           closed, and the close returns after the scan
//   VELMAR_BENCH_CLOSE=main the closes are made on the extracting thread, as
//                           before they went to a pool of threads
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/system_libraries.h"
#include "extract/entry_file_closer.h"
#include "launcher/launch_sequence.h"

#ifndef VELMAR_BENCH_BUILD
#error "the benchmark's launcher only"
#endif

namespace {

DWORD scanMilliseconds = 0;

DWORD ScannedClose(WrittenFile& file) {
    Sleep(scanMilliseconds);
    return PlatformCloseWrittenFile(file);
}

// The variable's text, or empty.
std::wstring Setting(const wchar_t* name) {
    wchar_t value[32] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 32);
    return length > 0 && length < 32 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    RestrictDllSearch();
    scanMilliseconds =
        static_cast<DWORD>(std::wcstoul(Setting(L"VELMAR_BENCH_SCAN_MS").c_str(), nullptr, 10));
    if (scanMilliseconds > 0) {
        SetWrittenFileClose(ScannedClose);
    }
    if (Setting(L"VELMAR_BENCH_CLOSE") == L"main") {
        SetEntryFileCloserThreads(0);
    }
    return RunLaunchSequence(commandLine);
}
