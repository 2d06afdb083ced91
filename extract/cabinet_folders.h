#pragma once
// Folder creation for cabinet members (narrow UTF-8 paths).

// CreateFolderPath on the wide form of path: the folder with its missing
// ancestors. False when the path does not convert or the folder is not there
// at the end; callers do not rely on it.
bool CreateFolderWithParents(const char* path);
