#include "extract/cabinet_file_calls.h"

#include <io.h>

#include <cerrno>

#include "common/folder_creation.h"
#include "common/process_state.h"
#include "common/text_conversion.h"

namespace {

// call on the wide form of path; a path that does not convert gives failure,
// and the failure reads as ERROR_INVALID_NAME.
template <typename Result, typename Call>
Result CallWithWidePath(const char* path, Result failure, Call call) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return failure;
    }
    return call(wide.c_str());
}

}  // namespace

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
    return CallWithWidePath(path, FALSE, [attributes](const wchar_t* wide) {
        return SetFileAttributesW(wide, attributes);
    });
}

BOOL CreateUtf8Directory(const char* path) {
    return CallWithWidePath(path, FALSE, [](const wchar_t* wide) { return CreateOneFolder(wide); });
}
