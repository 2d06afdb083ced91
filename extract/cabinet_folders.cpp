#include "extract/cabinet_folders.h"

#include <windows.h>

#include <memory>

#include "extract/cabinet_file_calls.h"
#include "extract/cabinet_paths.h"

int CreateFolderWithParents(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return 0;
    }
    if (CreateUtf8Directory(path)) {
        return 1;
    }
    if (GetLastError() != ERROR_PATH_NOT_FOUND) {
        return 0;
    }
    std::unique_ptr<char[]> parent(GetParentPath(path));
    if (parent == nullptr || parent[0] == '\0') {
        return 0;
    }
    CreateFolderWithParents(parent.get());
    return CreateUtf8Directory(path) ? 1 : 0;
}
