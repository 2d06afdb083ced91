#pragma once
// The pieces of cabinet extraction below ExtractCabinet: the context handed
// through a copy, the copy itself and the handler of the library's notifications.
#include <windows.h>

#include <fdi.h>

#include "extract/cabinet_paths.h"

// Handed through FDICopy to CabinetNotify; zero-filled before use.
struct CabinetTarget {
    char destination[kCabinetPathCapacity];  // always ends in a backslash
    const char* onlyName;                    // the one member to extract, or null for all
};

// Runs one copy of the cabinet with the given write callback and notification
// handler. Non-zero when the copy succeeded; otherwise the error record holds
// the library's code (or 0 when it gave none).
int CopyFromCabinet(const char* cabinet, PFNWRITE write, PFNFDINOTIFY notify, ERF* error,
                    CabinetTarget* target);

// Selects each member, creates its folders and opens its file
// (fdintCOPY_FILE: descriptor, 0 to skip, -1 when the open fails), then sets
// its times and attributes (fdintCLOSE_FILE_INFO: 1). Other notifications: 0.
INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);
