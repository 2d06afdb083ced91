#pragma once
// Folder creation for cabinet members (narrow UTF-8 paths).

// Creates the folder, creating missing ancestors first when the platform
// reports path-not-found. Each step goes to a strictly shorter parent, so it
// ends for relative and empty paths too. Non-zero when the last creation
// attempt succeeded; callers do not rely on it.
int CreateFolderWithParents(const char* path);
