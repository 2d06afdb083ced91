#pragma once
// Folder operations below the user's temporary folder: making sure the
// OffPlay folder exists, and removing what earlier runs left there. Nothing
// outside the temporary folder is ever written or removed: paths elsewhere,
// paths with "." or ".." components and links (junctions, symbolic links,
// anything that resolves to another place than its name says) are left alone.
#include <windows.h>

#include <cstddef>
#include <string>

#include "common/checked_files.h"
#include "common/unique_handle.h"

// Creates path and its missing ancestors. path normally ends in a backslash;
// without one, its last component is created too. The text is modified while
// the walk runs and restored before return. Paths of 260 characters or more
// are refused. No result, no log.
void CreateFolderPath(wchar_t* path);

enum class ReadOnlyEntries {
    Keep,   // read-only files and folders stay, with the folders above them
    Clear,  // the attribute is cleared and they are removed too
};

// Deletes the folder path with everything in it, depth first. Does nothing
// unless path lies strictly inside the temporary folder (GetTempPathW,
// compared ignoring the case of ASCII letters). Links are removed as links,
// never entered. No result, no log.
void RemoveFolderTree(const wchar_t* path, ReadOnlyEntries readOnly = ReadOnlyEntries::Keep);

// Deletes one file strictly inside the temporary folder, only when it is the
// file that its name says (no link on the way). True when it was deleted. A
// read-only file whose attribute may be cleared keeps it when the deletion is
// refused all the same (the file is in use).
bool DeleteFileInTemp(const wchar_t* path, ReadOnlyEntries readOnly = ReadOnlyEntries::Keep);

// True when path lies strictly inside the temporary folder and handle, opened
// on it, is exactly that file or folder (no link on the way).
bool IsHandleInTemp(HANDLE handle, const wchar_t* path);

// Opens the file path inside the temporary folder, creating it when nothing
// exists under the name, never through a link: a name that is a link, a
// folder, or that resolves to another place gives no handle, and nothing is
// written there. created tells whether the file is new. access should hold
// DELETE, so that a file made in the wrong place can be taken back.
UniqueFileHandle OpenFileInTemp(const wchar_t* path, DWORD access, DWORD share, bool* created);

// Opens the folder path inside the temporary folder for as long as the handle
// lives, without sharing its deletion: while it is held, the folder cannot be
// renamed, removed or replaced by a link. No handle when it is not a plain
// folder in its place.
UniqueFileHandle HoldFolderInTemp(const wchar_t* path);

// The temporary folder located once: its name and where it lies. Every check
// above compares against it; a run of many operations below the temporary
// folder (the sweep) locates it once and does them all through one of these,
// where each free function above locates it afresh.
struct TempAnchor {
    std::wstring temp;  // as GetTempPathW gives it, ending in a backslash
    FolderPlace place;  // where it lies, as far as the platform can tell
};

class TempWorkspace {
  public:
    TempWorkspace();  // locates the temporary folder now
    void RemoveFolderTree(const wchar_t* path,
                          ReadOnlyEntries readOnly = ReadOnlyEntries::Keep) const;
    bool DeleteFileInTemp(const wchar_t* path,
                          ReadOnlyEntries readOnly = ReadOnlyEntries::Keep) const;
    bool IsHandleInTemp(HANDLE handle, const wchar_t* path) const;
    UniqueFileHandle OpenFileInTemp(const wchar_t* path, DWORD access, DWORD share,
                                    bool* created) const;
    UniqueFileHandle HoldFolderInTemp(const wchar_t* path) const;

  private:
    // The temporary folder is known and path lies strictly inside it.
    bool Covers(const wchar_t* path) const;
    TempAnchor anchor_;
    bool located_;
};

// Marks the open file for deletion when its last handle closes.
bool DeleteThroughHandle(HANDLE handle);

// Text logic, kept apart from the file system.

constexpr size_t kNoFolderWalk = static_cast<size_t>(-1);
// Where the walk of CreateFolderPath begins, past the root: 3 for "C:\...",
// the backslash after the share name for "\\server\share\...", 1 otherwise;
// kNoFolderWalk when a network path ends before its share name does.
size_t FolderWalkStart(const wchar_t* path);

// path begins with folder, ASCII letters compared without case.
bool BeginsWithFolder(const wchar_t* path, const wchar_t* folder);
// The checks that a path must pass before anything below it is removed:
// inside tempFolder (which ends in a backslash) with at least one component
// of its own, no dot component, and short enough for its search pattern.
bool IsRemovableInTemp(const wchar_t* path, const wchar_t* tempFolder);

// Removes the work folder (WorkFolder) that this run created, with everything
// it extracted, read-only files included; first steps out of it, as a folder
// that is the current directory cannot be removed. One log line when a file
// held open by another program keeps part of it.
void RemoveRunWorkFolder();
