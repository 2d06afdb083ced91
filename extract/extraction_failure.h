#pragma once
// What the extraction tells the run about why it failed (common/run_failure.h),
// and what the report of a full disk needs to know of the space asked for.
#include <string>

// A file of the payload could not be created or written in full. A full disk
// names the work folder's drive; antivirus, a policy or a path too long name
// the file; any other error counts the package as damaged.
void NoteEntryWriteFailure(unsigned long systemError, const std::wstring& path);

// The archives' entries do not fit the free space of the work folder's drive.
void NoteSpaceShortfall();

// The sizes that the entries of every archive this extraction reached declare,
// summed. ClearDeclaredSpace starts the count for a new extraction.
void AddDeclaredSpace(unsigned long long bytes);
unsigned long long DeclaredSpaceOfRun();
void ClearDeclaredSpace();
