#include "tools/pack/console_output.h"

#include <cstdio>

#include "tools/pack/native_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

void WriteTo(FILE* stream, const std::string& utf8) {
    std::fflush(stream);
#ifdef _WIN32
    HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) &&
        !utf8.empty()) {
        std::wstring wide = WideFromUtf8(utf8);
        if (!wide.empty()) {
            DWORD written = 0;
            WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
            return;
        }
    }
#endif
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

}  // namespace

void WriteOut(const std::string& utf8) {
    WriteTo(stdout, utf8);
}

void WriteError(const std::string& utf8) {
    WriteTo(stderr, utf8);
}
