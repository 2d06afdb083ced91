#include "package/workspace_folders.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "common/ascii_text.h"
#include "common/checked_files.h"
#include "common/folder_creation.h"
#include "common/path_components.h"
#include "common/process_state.h"
#include "common/system_paths.h"
#include "common/unique_handle.h"

namespace {

bool SameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    return EqualIgnoringAsciiCase(std::wstring_view(a), std::wstring_view(b));
}

// The handle's path below its volume's root, which the file system itself
// keeps (also where the volume has no DOS name the platform can resolve).
std::wstring VolumePathOf(HANDLE handle) {
    constexpr DWORD kUnits = 2 * kPathCapacity;
    union {
        FILE_NAME_INFO info;
        wchar_t room[kUnits];
    } name = {};
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, &name, sizeof(name)) ||
        name.info.FileNameLength / sizeof(wchar_t) >= kUnits - 2) {
        return std::wstring();
    }
    return std::wstring(name.info.FileName, name.info.FileNameLength / sizeof(wchar_t));
}

class PlatformPlaces : public HandlePlaces {
  public:
    std::wstring FinalPath(HANDLE handle) override { return FinalPathOf(handle); }
    std::wstring VolumePath(HANDLE handle) override { return VolumePathOf(handle); }
};

PlatformPlaces platformPlaces;
HandlePlaces* places = &platformPlaces;

DWORD HandleAttributes(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return tag.FileAttributes;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                     : INVALID_FILE_ATTRIBUTES;
}

// text without its trailing separators, then exactly one backslash; empty
// text stays empty (unknown).
std::wstring AsFolderPrefix(std::wstring text) {
    if (text.empty()) {
        return text;
    }
    while (!text.empty() && IsPathSeparator(text.back())) {
        text.pop_back();
    }
    return text + L"\\";
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
    anchor.finalPath = AsFolderPrefix(places->FinalPath(folder.get()));
    anchor.volumePath = AsFolderPrefix(places->VolumePath(folder.get()));
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
// temporary folder. Where final paths are known, they must agree; where they
// are not, the path below the volume (when known) must agree and no
// component on the way may be a link.
bool LiesAt(const TempAnchor& anchor, HANDLE handle, const wchar_t* path) {
    std::wstring rest = RestBelowTemp(anchor, path);
    if (rest.empty()) {
        return false;
    }
    if (!anchor.finalPath.empty()) {
        std::wstring finalPath = places->FinalPath(handle);
        if (!finalPath.empty()) {
            return SameIgnoringAsciiCase(finalPath, anchor.finalPath + rest);
        }
    }
    if (!anchor.volumePath.empty()) {
        std::wstring volumePath = places->VolumePath(handle);
        if (!volumePath.empty() && !SameIgnoringAsciiCase(volumePath, anchor.volumePath + rest)) {
            return false;
        }
    }
    return NoLinkOnTheWay(anchor, rest);
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

// Deletes a file through a handle that was checked to be the file itself.
bool DeleteInPlace(const TempAnchor& anchor, const std::wstring& path, ReadOnlyEntries readOnly) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD access = DELETE | FILE_READ_ATTRIBUTES;
    UniqueFileHandle file;
    if (readOnly == ReadOnlyEntries::Clear) {
        file = OpenInPlace(anchor, path, access | FILE_WRITE_ATTRIBUTES, kShareAll, false);
    }
    if (!file) {
        // Wine refuses the right to write attributes on a read-only file, and
        // changes them through any handle.
        file = OpenInPlace(anchor, path, access, kShareAll, false);
    }
    if (!file) {
        return false;
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
void RemoveLink(const TempAnchor& anchor, const std::wstring& path, DWORD attributes) {
    DWORD folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FILE_FLAG_BACKUP_SEMANTICS : 0;
    UniqueFileHandle link(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | folder,
                                      nullptr));
    if (link && (HandleAttributes(link.get()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        LiesAt(anchor, link.get(), path.c_str())) {
        DeleteThroughHandle(link.get());
    }
}

void RemoveTree(const TempAnchor& anchor, const std::wstring& folder, ReadOnlyEntries readOnly);

// One entry found in a folder being removed: links as links, folders with
// what they hold, files through a checked handle. Read-only entries stay
// unless they may be cleared.
void RemoveEntry(const TempAnchor& anchor, const std::wstring& path, DWORD attributes,
                 ReadOnlyEntries readOnly) {
    if (readOnly == ReadOnlyEntries::Keep && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveLink(anchor, path, attributes);
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(anchor, path, readOnly);
    } else {
        DeleteInPlace(anchor, path, readOnly);
    }
}

// Removes what the folder holds; prefix is its path and a backslash, with
// room for the search pattern.
void RemoveEntries(const TempAnchor& anchor, const std::wstring& prefix, ReadOnlyEntries readOnly) {
    std::wstring pattern = prefix + L"*.*";
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &entry));
    if (!find) {
        return;
    }
    do {
        std::wstring name = entry.cFileName;
        std::wstring entryPath = prefix + name;
        if (name == L"." || name == L".." || entryPath.size() >= kPathCapacity) {
            continue;  // an entry too long to name is left in place
        }
        RemoveEntry(anchor, entryPath, entry.dwFileAttributes, readOnly);
    } while (FindNextFileW(find.get(), &entry));
}

void RemoveTree(const TempAnchor& anchor, const std::wstring& folder, ReadOnlyEntries readOnly) {
    if (!BeginsWithFolder(folder.c_str(), anchor.temp.c_str())) {
        return;
    }
    bool clear = readOnly == ReadOnlyEntries::Clear;
    // Held open while the folder is worked on: it cannot be renamed or
    // replaced by a link meanwhile.
    UniqueFileHandle hold = OpenInPlace(
        anchor, folder,
        FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | (clear ? FILE_WRITE_ATTRIBUTES : 0),
        FILE_SHARE_READ | FILE_SHARE_WRITE, true);
    if (!hold) {
        return;
    }
    if (clear && (HandleAttributes(hold.get()) & FILE_ATTRIBUTE_READONLY) != 0) {
        SetReadOnly(hold.get(), false);
    }
    std::wstring prefix = folder;
    if (prefix.back() != L'\\') {
        prefix += L'\\';
    }
    if (prefix.size() + 3 >= kPathCapacity) {
        return;  // no room for the search pattern: the folder stays whole
    }
    RemoveEntries(anchor, prefix, readOnly);
    hold.reset();
    // Checked once more, then removed through that handle; a folder that is
    // not empty stays.
    UniqueFileHandle emptied =
        OpenInPlace(anchor, folder, DELETE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true);
    if (emptied) {
        DeleteThroughHandle(emptied.get());
    }
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
        bool present =
            GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES || CreateOneFolder(path) != 0;
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

HandlePlaces& PlatformHandlePlaces() {
    return platformPlaces;
}

void UseHandlePlaces(HandlePlaces* replacement) {
    places = replacement != nullptr ? replacement : &platformPlaces;
}
