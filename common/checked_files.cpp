#include "common/checked_files.h"

#include <string_view>
#include <vector>

#include "common/ascii_text.h"
#include "common/path_components.h"
#include "common/process_state.h"

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return EqualIgnoringAsciiCase(std::wstring_view(a), std::wstring_view(b));
}

// The attributes and the number of names of an open file. Asked for alone:
// GetFileInformationByHandle also asks for the volume's serial number, which
// under Wine is a round trip to another process, three for every log opened.
bool ReadAttributesAndLinks(HANDLE handle, DWORD& attributes, DWORD& links) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)) &&
        GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
        attributes = tag.FileAttributes;
        links = standard.NumberOfLinks;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    attributes = info.dwFileAttributes;
    links = info.nNumberOfLinks;
    return true;
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

class PlatformPlaces : public HandlePlaces {
  public:
    std::wstring FinalPath(HANDLE handle) override { return FinalPathOf(handle); }
    std::wstring VolumePath(HANDLE handle) override { return VolumePathOf(handle); }
};

PlatformPlaces platformPlaces;
HandlePlaces* places = &platformPlaces;

}  // namespace

std::wstring FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length + 1);
    }
    return std::wstring();
}

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

HandlePlaces& PlatformHandlePlaces() {
    return platformPlaces;
}

HandlePlaces& CurrentHandlePlaces() {
    return *places;
}

void UseHandlePlaces(HandlePlaces* replacement) {
    places = replacement != nullptr ? replacement : &platformPlaces;
}

FolderPlace PlaceOfFolder(HANDLE folder) {
    return FolderPlace{AsFolderPrefix(places->FinalPath(folder)),
                       AsFolderPrefix(places->VolumePath(folder))};
}

bool LiesBelow(HANDLE handle, const FolderPlace& folder, const std::wstring& rest,
               const std::function<bool()>& noLinkOnTheWay) {
    if (rest.empty()) {
        return false;
    }
    if (!folder.finalPath.empty()) {
        std::wstring finalPath = places->FinalPath(handle);
        if (!finalPath.empty()) {
            return SameText(finalPath, folder.finalPath + rest);
        }
    }
    if (!folder.volumePath.empty()) {
        std::wstring volumePath = places->VolumePath(handle);
        if (!volumePath.empty() && !SameText(volumePath, folder.volumePath + rest)) {
            return false;
        }
    }
    return noLinkOnTheWay();
}

bool LiesWhereNamed(HANDLE handle, const FolderPlace& folder, const std::wstring& leaf,
                    bool isFolder) {
    DWORD attributes = 0;
    DWORD links = 0;
    if (leaf.empty() || !ReadAttributesAndLinks(handle, attributes, links)) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != isFolder || (!isFolder && links > 1)) {
        return false;
    }
    // The leaf itself is no link (above), and it was opened by its name in
    // the folder: where nothing better is known, that name is its place.
    return LiesBelow(handle, folder, leaf, [] { return true; });
}

bool SplitLastComponent(const std::wstring& path, std::wstring& parent, std::wstring& leaf) {
    size_t separator = path.rfind(L'\\');
    if (separator == std::wstring::npos || separator == 0 || separator + 1 >= path.size()) {
        return false;
    }
    parent = path.substr(0, separator);
    leaf = path.substr(separator + 1);
    if (parent.back() == L':') {
        parent.push_back(L'\\');  // "C:" alone would name the drive's current folder
    }
    return true;
}

bool OpenCheckedFolder(const std::wstring& folder, CheckedFolder& opened) {
    std::wstring parent;
    std::wstring leaf;
    if (!SplitLastComponent(folder, parent, leaf)) {
        return false;
    }
    // The parent is where the caller's trust starts: it may itself be reached through a link.
    UniqueFileHandle parentHandle(
        CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parentHandle) {
        return false;
    }
    FolderPlace parentPlace = PlaceOfFolder(parentHandle.get());
    UniqueFileHandle handle(CreateFileW(
        folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle || !LiesWhereNamed(handle.get(), parentPlace, leaf, true)) {
        return false;
    }
    opened.place = PlaceOfFolder(handle.get());
    opened.path = folder;
    opened.handle = std::move(handle);
    return true;
}
