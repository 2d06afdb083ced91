#pragma once
// Folder operations below the user's temporary folder: making sure the
// OffPlay folder exists, and removing what earlier runs left there. Removal
// never reaches outside the temporary folder: paths elsewhere, paths with "."
// or ".." components and links (junctions, symbolic links, anything that
// resolves to another place than its name says) are left alone.
#include <windows.h>

#include <cstddef>

// Creates path and its missing ancestors. path normally ends in a backslash;
// without one, its last component is created too. The text is modified while
// the walk runs and restored before return. Paths of 260 characters or more
// are refused. No result, no log.
void CreateFolderPath(wchar_t* path);

// Deletes the folder path with everything in it, depth first, except read-only
// files and folders (and the folders on their way up). Does nothing unless
// path lies strictly inside the temporary folder (GetTempPathW, compared
// ignoring the case of ASCII letters). No result, no log.
void RemoveFolderTree(const wchar_t* path);

// Deletes one file strictly inside the temporary folder, only when it is the
// file that its name says (no link on the way). True when it was deleted.
bool DeleteFileInTemp(const wchar_t* path);

// True when path lies strictly inside the temporary folder and handle, opened
// on it, resolves to exactly that place (no link on the way).
bool IsHandleInTemp(HANDLE handle, const wchar_t* path);

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
