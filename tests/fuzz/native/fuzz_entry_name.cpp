// The check that an archive member's name stays inside its folder.
#include <string>

#include "extract/entry_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string narrow(reinterpret_cast<const char*>(data), size);
    std::wstring wide;
    for (size_t i = 0; i + 1 < size; i += 2) {
        wide += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    }
    wide = std::wstring(wide.c_str());  // the name the check sees ends at its first NUL
    bool inside = IsEntryNameInside(wide.c_str());
    IsEntryNameInside(narrow.c_str());
    bool parent = wide == L".." || wide.rfind(L"../", 0) == 0 || wide.rfind(L"..\\", 0) == 0;
    if (inside && (parent || wide.find(L':') != std::wstring::npos)) {
        __builtin_trap();  // a parent reference or a drive can never pass
    }
    return 0;
}
