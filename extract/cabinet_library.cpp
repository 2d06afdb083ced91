#include "extract/cabinet_library.h"

#include "diagnostics/diagnostic_log.h"
#include "common/system_libraries.h"

namespace {

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
    // Bare names only, from the system folder: a path could name a planted copy.
    UniqueModule loaded(LoadSystemLibrary(dllName));
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
                       L"The cabinet library could not be loaded from the system folder "
                       L"(error %lu).\n",
                       GetLastError());
        }
    }
    return module ? &functions : nullptr;
}
