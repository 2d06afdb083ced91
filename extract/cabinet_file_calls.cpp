#include "extract/cabinet_file_calls.h"

#include <io.h>

#include <cerrno>

#include "common/process_state.h"
#include "common/text_conversion.h"

bool WidePathFromUtf8(const char* path, std::wstring& wide) {
    if (path == nullptr || !WideFromCodePage(CP_UTF8, path, MB_ERR_INVALID_CHARS, wide) ||
        wide.size() >= kPathCapacity) {
        wide.clear();
        return false;
    }
    return true;
}

int OpenUtf8Path(const char* path, int flags, int permission) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide) || wide.empty()) {
        errno = ENOENT;
        return -1;
    }
    return _wopen(wide.c_str(), flags, permission);
}

BOOL SetUtf8PathAttributes(const char* path, DWORD attributes) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return SetFileAttributesW(wide.c_str(), attributes);
}

BOOL CreateUtf8Directory(const char* path) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return CreateDirectoryW(wide.c_str(), nullptr);
}

HANDLE OpenUtf8PathForTimes(const char* path) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
