#pragma once
// The platform's cabinet library, loaded from the system folder when first
// needed rather than imported, so that a cabinet.dll placed beside the program
// or in the current folder is never the one that runs.
#include <windows.h>

#include <fdi.h>

#include "common/unique_handle.h"

struct CabinetFunctions {
    decltype(&FDICreate) create = nullptr;
    decltype(&FDIIsCabinet) isCabinet = nullptr;
    decltype(&FDICopy) copy = nullptr;
    decltype(&FDIDestroy) destroy = nullptr;
};

// Loads the DLL of that name from the system folder and resolves the four
// decompression functions. On any failure the module is left empty, the
// functions null, and the result is false.
bool LoadCabinetFunctions(const wchar_t* dllName, UniqueModule& module,
                          CabinetFunctions& functions);

// The process's cabinet library, loaded on the first call and kept until the
// process ends; null (with one log line) when it cannot be loaded.
const CabinetFunctions* GetCabinetFunctions();
