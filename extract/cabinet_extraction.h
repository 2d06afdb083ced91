#pragma once
// Cabinet (.cab) extraction on the platform's cabinet library. Paths are
// narrow strings in the system's ANSI code page.

// Extracts every member of the cabinet (or only the member onlyName, when not
// null) into destination. Returns 0 on success, otherwise the platform's error
// code, or -1 when it gave none.
int ExtractCabinet(const char* destination, const char* cabinet, const char* onlyName);
