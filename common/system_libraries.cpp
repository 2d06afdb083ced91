#include "common/system_libraries.h"

#include <cwchar>

namespace {

// What a message box, the visual styles and the shell load by name on the
// platforms the launcher runs on. Loading one that a system lacks just fails.
// clang-format off
constexpr const wchar_t* kInterfaceLibraries[] = {
    L"uxtheme.dll", L"version.dll", L"dwmapi.dll", L"cryptbase.dll", L"shcore.dll",
    L"propsys.dll", L"msimg32.dll", L"usp10.dll", L"windows.storage.dll", L"kernel.appcore.dll",
    L"profapi.dll", L"textinputframework.dll", L"coremessaging.dll", L"coreuicomponents.dll",
    L"wintypes.dll", L"ntmarta.dll", L"cfgmgr32.dll", L"bcryptprimitives.dll", L"sspicli.dll",
    L"userenv.dll", L"edputil.dll", L"wldp.dll", L"powrprof.dll", L"umpdc.dll",
};
// clang-format on

template <typename Function>
Function SystemFunction(const wchar_t* dllName, const char* name) {
    PreloadInterfaceLibraries();
    HMODULE module = LoadSystemLibrary(dllName);  // kept until the process ends
    return module == nullptr
               ? nullptr
               : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDefault =
        kernel == nullptr
            ? nullptr
            : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                  reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* dllName) {
    if (dllName == nullptr || dllName[0] == L'\0' || std::wcspbrk(dllName, L"\\/:") != nullptr) {
        return nullptr;
    }
    HMODULE module = LoadLibraryExW(dllName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    // Systems without the search flags refuse them: the full path in the
    // system folder is just as safe there.
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

void PreloadInterfaceLibraries() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    for (const wchar_t* name : kInterfaceLibraries) {
        LoadSystemLibrary(name);  // missing ones are fine: not every system has each
    }
}

int WINAPI SystemMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    static auto show = SystemFunction<decltype(&MessageBoxW)>(L"user32.dll", "MessageBoxW");
    return show != nullptr ? show(owner, text, caption, style) : 0;
}

BOOL WINAPI SystemAllowSetForegroundWindow(DWORD processId) {
    static auto allow = SystemFunction<decltype(&AllowSetForegroundWindow)>(
        L"user32.dll", "AllowSetForegroundWindow");
    return allow != nullptr ? allow(processId) : FALSE;
}

DWORD WINAPI SystemWaitForInputIdle(HANDLE process, DWORD milliseconds) {
    static auto wait =
        SystemFunction<decltype(&WaitForInputIdle)>(L"user32.dll", "WaitForInputIdle");
    return wait != nullptr ? wait(process, milliseconds) : WAIT_FAILED;
}
