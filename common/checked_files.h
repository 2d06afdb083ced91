#pragma once
// Opening files and folders below the temporary folder without following a
// link (reparse point) in their place, and checking by handle that what was
// opened lies where its name says.
#include <windows.h>

#include <string>

#include "common/unique_handle.h"

// The full path that the platform gives for an open handle, links resolved
// ("\\?\C:\..."); empty when it cannot tell.
std::wstring FinalPathOf(HANDLE handle);

// True when the handle is no link (reparse point), is a folder or a file as
// asked, has no second name (hard link) when a file, and lies exactly at
// folderFinal + "\" + leaf, where folderFinal is a FinalPathOf result.
bool LiesWhereNamed(HANDLE handle, const std::wstring& folderFinal, const std::wstring& leaf,
                    bool isFolder);

// Splits a path at its last backslash; false when it has none or either part is empty.
bool SplitLastComponent(const std::wstring& path, std::wstring& parent, std::wstring& leaf);

// A folder opened without following a link in its place and checked to lie in
// its parent where its name says. The handle does not share deletion, so the
// folder cannot be renamed or removed while it is held.
struct CheckedFolder {
    UniqueFileHandle handle;
    std::wstring path;       // as the caller named it
    std::wstring finalPath;  // as the platform resolves it
};
bool OpenCheckedFolder(const std::wstring& folder, CheckedFolder& opened);
