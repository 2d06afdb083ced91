#include "common/folder_creation.h"

#include <cwchar>

#include "common/file_retry.h"
#include "common/path_components.h"
#include "common/process_state.h"

FolderCreateFunction FolderCreation = CreateDirectoryW;

size_t FolderWalkStart(const wchar_t* path) {
    size_t length = std::wcslen(path);
    if (length >= 2 && path[1] == L':') {
        return 3;
    }
    if (length >= 2 && path[1] == L'\\') {
        const wchar_t* serverEnd = std::wcschr(path + 2, L'\\');
        if (serverEnd == nullptr) {
            return kNoFolderWalk;
        }
        const wchar_t* shareEnd = std::wcschr(serverEnd + 1, L'\\');
        if (shareEnd == nullptr) {
            return kNoFolderWalk;
        }
        return static_cast<size_t>(shareEnd - path);
    }
    return 1;
}

bool CreateFolderPath(wchar_t* path) {
    size_t length = path != nullptr ? wcsnlen(path, kPathCapacity) : 0;
    if (length == 0 || length >= kPathCapacity) {
        return false;
    }
    if (IsNameTaken(path) || CreateOneFolder(path)) {
        return true;
    }
    size_t start = FolderWalkStart(path);
    if (start == kNoFolderWalk) {
        return false;
    }
    for (size_t i = start; i < length; ++i) {
        if (!IsPathSeparator(path[i])) {
            continue;
        }
        wchar_t separator = path[i];
        path[i] = L'\0';
        bool present = IsNameTaken(path) || CreateOneFolder(path) != 0;
        path[i] = separator;
        if (!present) {
            return false;
        }
    }
    // A path without a trailing separator names a folder too: its ancestors
    // now exist, so it can be made.
    return IsPathSeparator(path[length - 1]) || CreateOneFolder(path) != 0;
}
