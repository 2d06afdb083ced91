#include "common/checked_files.h"

#include <vector>

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Child(const std::wstring& folderFinal, const std::wstring& leaf) {
    if (!folderFinal.empty() && folderFinal.back() == L'\\') {
        return folderFinal + leaf;
    }
    return folderFinal + L"\\" + leaf;
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

bool LiesWhereNamed(HANDLE handle, const std::wstring& folderFinal, const std::wstring& leaf,
                    bool isFolder) {
    DWORD attributes = 0;
    DWORD links = 0;
    if (folderFinal.empty() || leaf.empty() || !ReadAttributesAndLinks(handle, attributes, links)) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != isFolder || (!isFolder && links > 1)) {
        return false;
    }
    std::wstring final = FinalPathOf(handle);
    return !final.empty() && SameText(final, Child(folderFinal, leaf));
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
    std::wstring parentFinal = parentHandle ? FinalPathOf(parentHandle.get()) : std::wstring();
    UniqueFileHandle handle(CreateFileW(
        folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle || !LiesWhereNamed(handle.get(), parentFinal, leaf, true)) {
        return false;
    }
    opened.finalPath = FinalPathOf(handle.get());
    opened.path = folder;
    opened.handle = std::move(handle);
    return true;
}
