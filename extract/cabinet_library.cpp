#include "extract/cabinet_library.h"

#include <cwchar>

#include "launcher/diagnostic_log.h"

namespace {

// Systems without the search flags refuse LOAD_LIBRARY_SEARCH_SYSTEM32; the
// full path in the system folder is just as safe there.
HMODULE LoadFromSystemFolder(const wchar_t* dllName) {
    HMODULE module = LoadLibraryExW(dllName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr) {
        return module;
    }
    wchar_t path[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    size_t nameLength = std::wcslen(dllName);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
        return nullptr;
    }
    path[length] = L'\\';
    std::wmemcpy(path + length + 1, dllName, nameLength + 1);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

}  // namespace

bool LoadCabinetFunctions(const wchar_t* dllName, UniqueModule& module,
                          CabinetFunctions& functions) {
    functions = CabinetFunctions();
    module.reset();
    if (dllName == nullptr || dllName[0] == L'\0' || std::wcschr(dllName, L'\\') != nullptr ||
        std::wcschr(dllName, L'/') != nullptr) {
        return false;
    }
    UniqueModule loaded(LoadFromSystemFolder(dllName));
    if (!loaded) {
        return false;
    }
    CabinetFunctions found;
    if (!Resolve(loaded.get(), "FDICreate", found.create) ||
        !Resolve(loaded.get(), "FDIIsCabinet", found.isCabinet) ||
        !Resolve(loaded.get(), "FDICopy", found.copy) ||
        !Resolve(loaded.get(), "FDIDestroy", found.destroy)) {
        return false;
    }
    module = std::move(loaded);
    functions = found;
    return true;
}

const CabinetFunctions* GetCabinetFunctions() {
    static UniqueModule module;
    static CabinetFunctions functions;
    static bool attempted = false;
    if (!attempted) {
        attempted = true;
        if (!LoadCabinetFunctions(L"cabinet.dll", module, functions)) {
            LogMessage(LogHandle,
                       L"The cabinet library could not be loaded from the system folder.\n");
        }
    }
    return module ? &functions : nullptr;
}
