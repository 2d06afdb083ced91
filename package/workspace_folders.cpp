#include "package/workspace_folders.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "diagnostics/diagnostic_log.h"
#include "common/ascii_text.h"
#include "common/checked_files.h"
#include "common/folder_creation.h"
#include "common/path_components.h"
#include "common/process_state.h"
#include "common/system_paths.h"
#include "common/file_retry.h"
#include "common/unique_handle.h"
#include "diagnostics/logged_retry.h"

namespace {

DWORD HandleAttributes(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return tag.FileAttributes;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                     : INVALID_FILE_ATTRIBUTES;
}

bool AnchorTemp(TempAnchor& anchor) {
    anchor.temp = TemporaryFolderPath();
    if (anchor.temp.empty()) {
        return false;
    }
    UniqueFileHandle folder(CreateFileW(anchor.temp.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    if (!folder) {
        return false;
    }
    anchor.place = PlaceOfFolder(folder.get());
    return true;
}

// The part of path below the temporary folder, without trailing separators.
std::wstring RestBelowTemp(const TempAnchor& anchor, const wchar_t* path) {
    std::wstring rest(path + anchor.temp.size());
    while (!rest.empty() && IsPathSeparator(rest.back())) {
        rest.pop_back();
    }
    return rest;
}

// Every component from the temporary folder down to rest exists and none is
// a link: the place of rest is the one its name says.
bool NoLinkOnTheWay(const TempAnchor& anchor, const std::wstring& rest) {
    for (size_t end = 0; end <= rest.size(); ++end) {
        if (end < rest.size() && !IsPathSeparator(rest[end])) {
            continue;
        }
        DWORD attributes = GetFileAttributesW((anchor.temp + rest.substr(0, end)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return false;
        }
    }
    return true;
}

// handle, opened on path, is the file or folder that path names below the
// temporary folder. Where final paths are not known, no component on the way
// may be a link.
bool LiesAt(const TempAnchor& anchor, HANDLE handle, const wchar_t* path) {
    std::wstring rest = RestBelowTemp(anchor, path);
    return LiesBelow(handle, anchor.place, rest, [&] { return NoLinkOnTheWay(anchor, rest); });
}

// handle is a plain file (or folder, as asked) at the place its path names.
bool IsPlainInPlace(const TempAnchor& anchor, HANDLE handle, const wchar_t* path, bool folder) {
    DWORD attributes = HandleAttributes(handle);
    bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && isFolder == folder &&
           LiesAt(anchor, handle, path);
}

// Opens path without following a link at its end, and only when it is a
// folder (or a file, as asked) in its place: a name that leads somewhere
// else gives no handle.
UniqueFileHandle OpenInPlace(const TempAnchor& anchor, const std::wstring& path, DWORD access,
                             DWORD share, bool folder) {
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    UniqueFileHandle handle(
        CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (handle && !IsPlainInPlace(anchor, handle.get(), path.c_str(), folder)) {
        handle.reset();
        SetLastError(ERROR_BAD_PATHNAME);
    }
    return handle;
}

bool SetReadOnly(HANDLE handle, bool readOnly) {
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic))) {
        return false;
    }
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL);
    basic.FileAttributes |= readOnly ? FILE_ATTRIBUTE_READONLY : 0;
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != 0;
}

// Opens a file for its deletion through a handle checked to be the file
// itself, waiting a moment for a program that holds it without sharing its
// deletion.
UniqueFileHandle OpenForDeletion(const TempAnchor& anchor, const std::wstring& path,
                                 ReadOnlyEntries readOnly) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    constexpr DWORD access = DELETE | FILE_READ_ATTRIBUTES;
    UniqueFileHandle file;
    RetryLogged(L"delete", path, [&]() {
        if (readOnly == ReadOnlyEntries::Clear) {
            file = OpenInPlace(anchor, path, access | FILE_WRITE_ATTRIBUTES, kShareAll, false);
        }
        if (!file) {
            // Wine refuses the right to write attributes on a read-only file,
            // and changes them through any handle.
            file = OpenInPlace(anchor, path, access, kShareAll, false);
        }
        return file.valid();
    });
    return file;
}

// Deletes a file through a handle that was checked to be the file itself.
bool DeleteInPlace(const TempAnchor& anchor, const std::wstring& path, ReadOnlyEntries readOnly) {
    UniqueFileHandle file = OpenForDeletion(anchor, path, readOnly);
    if (!file) {
        // Being deleted by someone else: as good as deleted.
        return NamePresenceOf(path.c_str()) == NamePresence::BeingDeleted;
    }
    if (DeleteThroughHandle(file.get())) {
        return true;
    }
    if (readOnly == ReadOnlyEntries::Keep ||
        (HandleAttributes(file.get()) & FILE_ATTRIBUTE_READONLY) == 0 ||
        !SetReadOnly(file.get(), false)) {
        return false;
    }
    if (DeleteThroughHandle(file.get())) {
        return true;
    }
    // Still refused (in use): the file stays as it was.
    SetReadOnly(file.get(), true);
    return false;
}

// A link found in a folder that is being removed: the link itself may go,
// never what it leads to. It is opened as a link and must be one, at its own
// place; where the platform opens the target instead (Wine's symbolic links),
// the check fails and the link stays.
bool RemoveLink(const TempAnchor& anchor, const std::wstring& path, DWORD attributes) {
    DWORD folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FILE_FLAG_BACKUP_SEMANTICS : 0;
    UniqueFileHandle link;
    RetryLogged(L"delete", path, [&]() {
        link.reset(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | folder, nullptr));
        return link.valid();
    });
    return link && (HandleAttributes(link.get()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           LiesAt(anchor, link.get(), path.c_str()) && DeleteThroughHandle(link.get());
}

bool RemoveTree(const TempAnchor& anchor, const std::wstring& folder, ReadOnlyEntries readOnly);

// One entry found in a folder being removed: links as links, folders with
// what they hold, files through a checked handle. Read-only entries stay
// unless they may be cleared. True when it is gone or going.
bool RemoveEntry(const TempAnchor& anchor, const std::wstring& path, DWORD attributes,
                 ReadOnlyEntries readOnly) {
    if (readOnly == ReadOnlyEntries::Keep && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return RemoveLink(anchor, path, attributes);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return RemoveTree(anchor, path, readOnly);
    }
    return DeleteInPlace(anchor, path, readOnly);
}

// Removes what the folder holds; prefix is its path and a backslash, with
// room for the search pattern. True when every entry is gone or going.
bool RemoveEntries(const TempAnchor& anchor, const std::wstring& prefix, ReadOnlyEntries readOnly) {
    std::wstring pattern = prefix + L"*.*";
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &entry));
    if (!find) {
        return true;
    }
    bool allGone = true;
    do {
        std::wstring name = entry.cFileName;
        std::wstring entryPath = prefix + name;
        if (name == L"." || name == L"..") {
            continue;
        }
        // An entry too long to name is left in place.
        allGone = entryPath.size() < kPathCapacity &&
                  RemoveEntry(anchor, entryPath, entry.dwFileAttributes, readOnly) && allGone;
    } while (FindNextFileW(find.get(), &entry));
    return allGone;
}

// Deletes the emptied folder through a handle checked once more. Names
// deleted inside it may stay a moment while another program still holds
// them open: the folder then reads as not empty, and is tried again.
bool DeleteEmptiedFolder(const TempAnchor& anchor, const std::wstring& folder, bool allGone) {
    return RetryLogged(L"remove", folder, [&]() {
        UniqueFileHandle emptied =
            OpenInPlace(anchor, folder, DELETE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true);
        if (!emptied) {
            return false;
        }
        if (DeleteThroughHandle(emptied.get())) {
            return true;
        }
        DWORD error = GetLastError();
        SetLastError(allGone && error == ERROR_DIR_NOT_EMPTY ? ERROR_DELETE_PENDING : error);
        return false;
    });
}

bool RemoveTree(const TempAnchor& anchor, const std::wstring& folder, ReadOnlyEntries readOnly) {
    if (!BeginsWithFolder(folder.c_str(), anchor.temp.c_str())) {
        return false;
    }
    bool clear = readOnly == ReadOnlyEntries::Clear;
    // Held open while the folder is worked on: it cannot be renamed or
    // replaced by a link meanwhile.
    UniqueFileHandle hold;
    RetryLogged(L"open", folder, [&]() {
        hold = OpenInPlace(
            anchor, folder,
            FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | (clear ? FILE_WRITE_ATTRIBUTES : 0),
            FILE_SHARE_READ | FILE_SHARE_WRITE, true);
        return hold.valid();
    });
    if (!hold) {
        return false;
    }
    if (clear && (HandleAttributes(hold.get()) & FILE_ATTRIBUTE_READONLY) != 0) {
        SetReadOnly(hold.get(), false);
    }
    std::wstring prefix = folder;
    if (prefix.back() != L'\\') {
        prefix += L'\\';
    }
    if (prefix.size() + 3 >= kPathCapacity) {
        return false;  // no room for the search pattern: the folder stays whole
    }
    bool allGone = RemoveEntries(anchor, prefix, readOnly);
    hold.reset();
    // A folder that is not empty stays.
    return DeleteEmptiedFolder(anchor, folder, allGone);
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
    if (IsNameTaken(path)) {
        return;
    }
    if (CreateOneFolder(path)) {
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
        bool present = IsNameTaken(path) || CreateOneFolder(path) != 0;
        path[i] = L'\\';
        if (!present) {
            return;
        }
    }
    // A path without a trailing backslash names a folder too: its ancestors
    // now exist, so it can be made.
    if (path[length - 1] != L'\\') {
        CreateOneFolder(path);
    }
}

bool BeginsWithFolder(const wchar_t* path, const wchar_t* folder) {
    return BeginsIgnoringAsciiCase(std::wstring_view(path), std::wstring_view(folder));
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

TempWorkspace::TempWorkspace() : located_(AnchorTemp(anchor_)) {}

bool TempWorkspace::Covers(const wchar_t* path) const {
    return located_ && IsRemovableInTemp(path, anchor_.temp.c_str());
}

void TempWorkspace::RemoveFolderTree(const wchar_t* path, ReadOnlyEntries readOnly) const {
    if (!Covers(path)) {
        return;
    }
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The folder is itself a link: remove the link, never enter it.
        if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
            RemoveLink(anchor_, path, attributes);
        }
        return;
    }
    RemoveTree(anchor_, path, readOnly);
}

bool TempWorkspace::DeleteFileInTemp(const wchar_t* path, ReadOnlyEntries readOnly) const {
    return Covers(path) && DeleteInPlace(anchor_, path, readOnly);
}

bool TempWorkspace::IsHandleInTemp(HANDLE handle, const wchar_t* path) const {
    return Covers(path) && LiesAt(anchor_, handle, path);
}

UniqueFileHandle TempWorkspace::OpenFileInTemp(const wchar_t* path, DWORD access, DWORD share,
                                               bool* created) const {
    *created = false;
    if (!Covers(path)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return UniqueFileHandle();
    }
    access |= FILE_READ_ATTRIBUTES;
    // Fails on anything under the name, a dangling link included: nothing is
    // ever created at a link's target.
    UniqueFileHandle file(CreateFileW(path, access, share, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
    if (!file) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return file;
        }
        return OpenInPlace(anchor_, path, access, share, false);
    }
    if (!IsPlainInPlace(anchor_, file.get(), path, false)) {
        // Made somewhere else than its name says: taken back at once.
        DeleteThroughHandle(file.get());
        file.reset();
        SetLastError(ERROR_BAD_PATHNAME);
        return file;
    }
    *created = true;
    return file;
}

UniqueFileHandle TempWorkspace::HoldFolderInTemp(const wchar_t* path) const {
    if (!Covers(path)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return UniqueFileHandle();
    }
    return OpenInPlace(anchor_, path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, true);
}

void RemoveFolderTree(const wchar_t* path, ReadOnlyEntries readOnly) {
    TempWorkspace().RemoveFolderTree(path, readOnly);
}

bool DeleteFileInTemp(const wchar_t* path, ReadOnlyEntries readOnly) {
    return TempWorkspace().DeleteFileInTemp(path, readOnly);
}

bool IsHandleInTemp(HANDLE handle, const wchar_t* path) {
    return TempWorkspace().IsHandleInTemp(handle, path);
}

UniqueFileHandle OpenFileInTemp(const wchar_t* path, DWORD access, DWORD share, bool* created) {
    return TempWorkspace().OpenFileInTemp(path, access, share, created);
}

UniqueFileHandle HoldFolderInTemp(const wchar_t* path) {
    return TempWorkspace().HoldFolderInTemp(path);
}

bool DeleteThroughHandle(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != 0;
}

void RemoveRunWorkFolder() {
    std::wstring offPlay = WorkFolder;
    offPlay.resize(offPlay.find_last_of(L'\\') + 1);
    SetCurrentDirectoryW(offPlay.c_str());
    RemoveFolderTree(WorkFolder, ReadOnlyEntries::Clear);
    if (GetFileAttributesW(WorkFolder) != INVALID_FILE_ATTRIBUTES) {
        LogMessage(LogHandle, L"Work folder %s could not be removed completely\n", WorkFolder);
    }
}
