#include "common/path_components.h"

#include <cstddef>

bool HasDotComponent(const wchar_t* path) {
    size_t i = 0;
    while (path[i] != L'\0') {
        size_t end = i;
        bool onlyDots = true;
        while (path[end] != L'\0' && !IsPathSeparator(path[end])) {
            if (path[end] != L'.' && path[end] != L' ') {
                onlyDots = false;
            }
            ++end;
        }
        if (end > i && onlyDots) {
            return true;
        }
        i = path[end] == L'\0' ? end : end + 1;
    }
    return false;
}
