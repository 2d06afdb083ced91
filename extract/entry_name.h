#pragma once
// Whether an archive member's stored name may be used as a path below the
// folder that it is extracted into (JudgeEntryName of the shared rules).
// Shared by zip and cabinet extraction.

// True when the name is a relative path that stays inside the folder.
bool IsEntryNameInside(const wchar_t* name);
// The same test for a name in the system's ANSI code page: it is converted
// first, so that double-byte characters are not mistaken for separators.
bool IsEntryNameInside(const char* name);
