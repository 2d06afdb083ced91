#include "extract/entry_name.h"

#include <windows.h>

#include <string>

#include "extract/entry_rules.h"
#include "common/text_conversion.h"

bool IsEntryNameInside(const wchar_t* name) {
    return name != nullptr && JudgeEntryName(std::wstring_view(name)) == EntryNameVerdict::Inside;
}

bool IsEntryNameInside(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return false;
    }
    std::wstring wide;
    return WideFromCodePage(CP_ACP, name, 0, wide) && IsEntryNameInside(wide.c_str());
}
