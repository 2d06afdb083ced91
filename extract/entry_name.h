#pragma once
// Whether an archive member's stored name may be used as a path below the
// folder that it is extracted into. Shared by zip and cabinet extraction.

// True when the name is a relative path that stays inside the folder: not
// empty, not starting with a separator (absolute or network names), without
// ":" (drive letters, alternate streams), without a component made only of
// dots and spaces ("..", and what the platform trims to it), and without a
// component that names a device (CON, NUL, COM1, ...). Both "/" and "\" count
// as separators.
bool IsEntryNameInside(const wchar_t* name);
// The same test for a name in the system's ANSI code page: it is converted
// first, so that double-byte characters are not mistaken for separators.
bool IsEntryNameInside(const char* name);
