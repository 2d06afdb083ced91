#pragma once
// Opening files and folders below the temporary folder without following a
// link (reparse point) in their place, and checking by handle that what was
// opened lies where its name says.
#include <windows.h>

#include <functional>
#include <string>

#include "common/unique_handle.h"

// The full path that the platform gives for an open handle, links resolved
// ("\\?\C:\..."); empty when it cannot tell.
std::wstring FinalPathOf(HANDLE handle);
// The handle's path below its volume's root ("\Temp\x"), which the file
// system itself keeps, also where the volume has no DOS name; empty when
// unknown.
std::wstring VolumePathOf(HANDLE handle);

// Where open handles lie, as the platform tells. Volumes where final paths
// cannot be resolved (some RAM disks and virtual drives) answer with empty
// text, and the checks fall back on the names themselves.
class HandlePlaces {
  public:
    virtual ~HandlePlaces() = default;
    // The final path in DOS form, e.g. "\\?\C:\Temp\x"; empty when unknown.
    virtual std::wstring FinalPath(HANDLE handle) = 0;
    // The path below the volume's root, e.g. "\Temp\x"; empty when unknown.
    virtual std::wstring VolumePath(HANDLE handle) = 0;
};
// Replaces the platform's answers (null: back to the platform's). For tests.
void UseHandlePlaces(HandlePlaces* places);
HandlePlaces& PlatformHandlePlaces();
// The answers in use: the platform's, or a test's.
HandlePlaces& CurrentHandlePlaces();

// Where an open folder lies: its final path and its path below the volume
// root, each followed by one backslash; either is empty when unknown.
struct FolderPlace {
    std::wstring finalPath;
    std::wstring volumePath;
};
FolderPlace PlaceOfFolder(HANDLE folder);

// handle lies at folder + rest (rest: the components below the folder,
// without a trailing separator). Decided by the final paths where both are
// known. Where they are not, a known path below the volume root must agree,
// and noLinkOnTheWay, the caller's check of the names from the folder down
// to rest, decides.
bool LiesBelow(HANDLE handle, const FolderPlace& folder, const std::wstring& rest,
               const std::function<bool()>& noLinkOnTheWay);

// True when the handle is no link (reparse point), is a folder or a file as
// asked, has no second name (hard link) when a file, and lies exactly at
// folder + leaf. Where final paths cannot be had, the handle's own name
// (opened without following a link, as every caller does) in a folder that
// is held open stands for its place.
bool LiesWhereNamed(HANDLE handle, const FolderPlace& folder, const std::wstring& leaf,
                    bool isFolder);

// Splits a path at its last backslash; false when it has none or either part is empty.
bool SplitLastComponent(const std::wstring& path, std::wstring& parent, std::wstring& leaf);

// A folder opened without following a link in its place and checked to lie in
// its parent where its name says. The handle does not share deletion, so the
// folder cannot be renamed or removed while it is held.
struct CheckedFolder {
    UniqueFileHandle handle;
    std::wstring path;  // as the caller named it
    FolderPlace place;  // as the platform resolves it
};
bool OpenCheckedFolder(const std::wstring& folder, CheckedFolder& opened);
