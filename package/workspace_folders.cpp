#include "package/workspace_folders.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "launcher/path_components.h"
#include "launcher/process_state.h"
#include "launcher/system_paths.h"
#include "launcher/unique_handle.h"

namespace {

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

bool SameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Where the platform says an open handle really is, e.g. "\\?\C:\Temp\x".
std::wstring FinalPathOf(HANDLE handle) {
    std::wstring path(kPathCapacity + 8, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.assign(length + 1, L'\0');
        length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length >= path.size()) {
            length = 0;
        }
    }
    path.resize(length);
    return path;
}

DWORD HandleAttributes(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return tag.FileAttributes;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                     : INVALID_FILE_ATTRIBUTES;
}

// The final path of the temporary folder, without a trailing backslash, the
// anchor against which everything that is deleted is checked.
std::wstring TempFinalPath(const wchar_t* temp) {
    UniqueFileHandle folder(CreateFileW(
        temp, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        return std::wstring();
    }
    std::wstring path = FinalPathOf(folder.get());
    while (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

// Where a path inside the temporary folder must resolve to: the temporary
// folder's final path plus the rest of the name.
std::wstring ExpectedFinalPath(const std::wstring& tempFinal, const wchar_t* rest) {
    std::wstring expected = tempFinal + L"\\" + rest;
    while (!expected.empty() && IsPathSeparator(expected.back())) {
        expected.pop_back();
    }
    return expected;
}

// Opens path without following a link at its end, and only when it resolves
// to expectedFinal and is a folder (or a file, as asked): a name that leads
// somewhere else gives no handle.
UniqueFileHandle OpenInPlace(const std::wstring& path, const std::wstring& expectedFinal,
                             DWORD access, DWORD share, bool folder) {
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    UniqueFileHandle handle(
        CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!handle) {
        return handle;
    }
    DWORD attributes = HandleAttributes(handle.get());
    bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        isFolder != folder || !SameIgnoringAsciiCase(FinalPathOf(handle.get()), expectedFinal)) {
        handle.reset();
    }
    return handle;
}

// Deletes a file through a handle that was checked to be the file itself.
bool DeleteInPlace(const std::wstring& path, const std::wstring& expectedFinal) {
    UniqueFileHandle file =
        OpenInPlace(path, expectedFinal, DELETE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false);
    if (!file) {
        return false;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != 0;
}

void RemoveTree(const std::wstring& folder, const std::wstring& expectedFinal,
                const wchar_t* temp) {
    if (!BeginsWithFolder(folder.c_str(), temp)) {
        return;
    }
    // Held open while the folder is worked on: it cannot be renamed or
    // replaced by a link meanwhile.
    UniqueFileHandle hold =
        OpenInPlace(folder, expectedFinal, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, true);
    if (!hold) {
        return;
    }
    std::wstring prefix = folder;
    if (prefix.back() != L'\\') {
        prefix += L'\\';
    }
    std::wstring pattern = prefix + L"*.*";
    if (pattern.size() >= kPathCapacity) {
        return;
    }
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &entry));
    if (find) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring entryPath = prefix + name;
            if (entryPath.size() >= kPathCapacity) {
                continue;  // too long to name: left in place
            }
            DWORD attributes = entry.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                continue;
            }
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                // A link: the link itself may go, never what it leads to.
                if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    RemoveDirectoryW(entryPath.c_str());
                } else {
                    DeleteFileW(entryPath.c_str());
                }
                continue;
            }
            std::wstring entryFinal = expectedFinal + L"\\" + name;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(entryPath, entryFinal, temp);
            } else {
                DeleteInPlace(entryPath, entryFinal);
            }
        } while (FindNextFileW(find.get(), &entry));
    }
    find.reset();
    hold.reset();
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

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

void CreateFolderPath(wchar_t* path) {
    if (path == nullptr) {
        return;
    }
    size_t length = wcsnlen(path, kPathCapacity);
    if (length == 0 || length >= kPathCapacity) {
        return;
    }
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (CreateDirectoryW(path, nullptr)) {
        return;
    }
    size_t start = FolderWalkStart(path);
    if (start == kNoFolderWalk) {
        return;
    }
    for (size_t i = start; i < length; ++i) {
        if (path[i] != L'\\') {
            continue;
        }
        path[i] = L'\0';
        bool present = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ||
                       CreateDirectoryW(path, nullptr) != 0;
        path[i] = L'\\';
        if (!present) {
            return;
        }
    }
    // A path without a trailing backslash names a folder too: its ancestors
    // now exist, so it can be made.
    if (path[length - 1] != L'\\') {
        CreateDirectoryW(path, nullptr);
    }
}

bool BeginsWithFolder(const wchar_t* path, const wchar_t* folder) {
    for (size_t i = 0; folder[i] != L'\0'; ++i) {
        if (path[i] == L'\0' || FoldAscii(path[i]) != FoldAscii(folder[i])) {
            return false;
        }
    }
    return true;
}

bool IsRemovableInTemp(const wchar_t* path, const wchar_t* tempFolder) {
    if (path == nullptr || tempFolder == nullptr || tempFolder[0] == L'\0') {
        return false;
    }
    size_t length = wcsnlen(path, kPathCapacity);
    if (length >= kPathCapacity || !BeginsWithFolder(path, tempFolder)) {
        return false;
    }
    bool ownComponent = false;
    for (const wchar_t* rest = path + std::wcslen(tempFolder); *rest != L'\0'; ++rest) {
        if (!IsPathSeparator(*rest)) {
            ownComponent = true;
        }
    }
    if (!ownComponent || HasDotComponent(path)) {
        return false;
    }
    // Room for the search pattern: path, a backslash, "*.*" and the terminator.
    size_t patternLength = length + (path[length - 1] == L'\\' ? 0 : 1) + 3;
    return patternLength < kPathCapacity;
}

void RemoveFolderTree(const wchar_t* path) {
    std::wstring temp = TemporaryFolderPath();
    if (temp.empty() || !IsRemovableInTemp(path, temp.c_str())) {
        return;
    }
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The folder is itself a link: remove the link, never enter it.
        if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
            RemoveDirectoryW(path);
        }
        return;
    }
    std::wstring tempFinal = TempFinalPath(temp.c_str());
    if (tempFinal.empty()) {
        return;
    }
    RemoveTree(path, ExpectedFinalPath(tempFinal, path + temp.size()), temp.c_str());
}

bool DeleteFileInTemp(const wchar_t* path) {
    std::wstring temp = TemporaryFolderPath();
    if (temp.empty() || !IsRemovableInTemp(path, temp.c_str())) {
        return false;
    }
    std::wstring tempFinal = TempFinalPath(temp.c_str());
    if (tempFinal.empty()) {
        return false;
    }
    return DeleteInPlace(path, ExpectedFinalPath(tempFinal, path + temp.size()));
}

bool IsHandleInTemp(HANDLE handle, const wchar_t* path) {
    std::wstring temp = TemporaryFolderPath();
    if (temp.empty() || !IsRemovableInTemp(path, temp.c_str())) {
        return false;
    }
    std::wstring tempFinal = TempFinalPath(temp.c_str());
    return !tempFinal.empty() &&
           SameIgnoringAsciiCase(FinalPathOf(handle),
                                 ExpectedFinalPath(tempFinal, path + temp.size()));
}
