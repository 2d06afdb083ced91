#pragma once
// Cabinet (.cab) extraction on the platform's cabinet library. Paths are
// narrow UTF-8 strings, so that every letter of a folder name passes through
// the library's narrow interface, whatever the system's ANSI code page.

// Extracts every member of the cabinet (or only the member onlyName, when not
// null) into destination. Returns 0 on success, otherwise the platform's error
// code, or -1 when it gave none. A member whose file cannot be created or
// written in full (its path too long, the disk full) makes it fail; members
// whose names lead outside the destination are skipped with a log line.
int ExtractCabinet(const char* destination, const char* cabinet, const char* onlyName);
