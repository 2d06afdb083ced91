#include "common/system_paths.h"

#include <windows.h>

#include "common/process_state.h"

std::wstring TemporaryFolderPath() {
    wchar_t temp[kPathCapacity] = {};
    DWORD length = GetTempPathW(kPathCapacity, temp);
    if (length == 0 || length >= kPathCapacity) {
        return std::wstring();
    }
    return std::wstring(temp, length);
}

std::wstring ShortPathOf(const std::wstring& path) {
    wchar_t shortPath[kPathCapacity] = {};
    DWORD length = GetShortPathNameW(path.c_str(), shortPath, kPathCapacity);
    if (length == 0 || length >= kPathCapacity) {
        return path;
    }
    return std::wstring(shortPath, length);
}

std::wstring VolumeOf(const std::wstring& path) {
    wchar_t volume[kPathCapacity] = {};
    if (GetVolumePathNameW(path.c_str(), volume, kPathCapacity)) {
        return volume;
    }
    if (path.size() >= 2 && path[1] == L':') {
        return path.substr(0, 2) + L"\\";
    }
    return path;
}
