#include "launcher/on_demand_system.h"

#include "launcher/unique_handle.h"

namespace {

// A function of a system DLL that stays loaded until the process ends.
template <typename Function>
Function LoadFunction(const UniqueModule& module, const char* name) {
    if (!module) {
        return nullptr;
    }
    // Through void (*)(), the one function type that converts to any other.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(module.get(), name)));
}

}  // namespace

int WINAPI ShowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
    static UniqueModule user32(LoadLibraryW(L"user32.dll"));
    static MessageBoxFunction show = LoadFunction<MessageBoxFunction>(user32, "MessageBoxW");
    return show != nullptr ? show(owner, text, caption, style) : 0;
}
