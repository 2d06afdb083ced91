#include "extract/cabinet_folders.h"

#include <cwchar>
#include <string>

#include "common/folder_creation.h"
#include "common/process_state.h"
#include "extract/cabinet_file_calls.h"

bool CreateFolderWithParents(const char* path) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide) || wide.empty()) {
        return false;
    }
    wchar_t folder[kPathCapacity] = {};
    std::wmemcpy(folder, wide.c_str(), wide.size() + 1);
    return CreateFolderPath(folder);
}
