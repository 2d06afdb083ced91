#include "package/package_probe.h"

#include <cstring>
#include <new>
#include <vector>

#include "diagnostics/diagnostic_log.h"
#include "common/process_state.h"
#include "common/system_paths.h"

PackageSourceRecord PackageSource;

namespace {

// Reads the file's bytes from the start of the marker search on, in one go;
// false when a read fails. A file shorter than the range gives a short block.
bool ReadSearchBlock(HANDLE file, std::vector<unsigned char>& block) {
    block.assign(static_cast<size_t>(kSearchBlockEnd - kMarkerSearchStart), 0);
    if (SetFilePointer(file, kMarkerSearchStart, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return false;
    }
    size_t filled = 0;
    while (filled < block.size()) {
        DWORD got = 0;
        if (!ReadFile(file, block.data() + filled, static_cast<DWORD>(block.size() - filled), &got,
                      nullptr)) {
            return false;
        }
        if (got == 0) {
            break;  // end of file
        }
        filled += got;
    }
    block.resize(filled);
    return true;
}

// A certificate table behind the archive, found through the PE headers at
// the start of the file; 0 when the archive runs to the end of the file.
uint32_t ReadArchiveEnd(HANDLE file, const PackageLayout& layout) {
    unsigned char head[kHeaderBlockLength] = {};
    DWORD got = 0;
    LARGE_INTEGER size = {};
    if (layout.result != 1 || !GetFileSizeEx(file, &size) ||
        SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(file, head, sizeof head, &got, nullptr)) {
        return 0;
    }
    uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
    uint64_t end = ArchiveEndOffset(layout, FindCertificateTable(head, got, fileSize), fileSize);
    return end < fileSize ? static_cast<uint32_t>(end) : 0;
}

}  // namespace

int ProbePackageFile(const wchar_t* path) {
    PackageSource.executable.reset(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<unsigned char> block;
    if (!PackageSource.executable || !ReadSearchBlock(PackageSource.executable.get(), block)) {
        LogMessage(LogHandle, L"HasSelfExtractMarker couldn't read source exe %s\n", path);
        PackageSource.propertyOffset = kMarkerSearchStart;
        PackageSource.archiveOffset = kMarkerSearchStart;
        return 0;
    }

    PackageLayout layout = LocatePackage(block.data(), block.size());
    if (layout.markerFound) {
        LogMessage(LogHandle, L"HasSelfExtractMarker\n");
    }
    PackageSource.propertyOffset = layout.propertyOffset;
    PackageSource.archiveOffset = layout.archiveOffset;
    PackageSource.archiveEnd = ReadArchiveEnd(PackageSource.executable.get(), layout);
    if (layout.propertyTooLong) {
        LogMessage(LogHandle, L"property size %d over limit of ? %d\n",
                   layout.archiveOffset - layout.propertyOffset,
                   static_cast<int>(kPropertyCapacity));
    } else if (layout.propertyRead) {
        std::memcpy(PackageSource.propertyText, layout.propertyText.data(),
                    layout.propertyText.size());
        PackageSource.propertyText[layout.propertyText.size()] = '\0';
    }
    return layout.result;
}

int HasSelfExtractMarker() {
    wchar_t modulePath[kPathCapacity] = {};
    DWORD length = GetModuleFileNameW(nullptr, modulePath, kPathCapacity);
    if (length == 0 || length >= kPathCapacity) {
        modulePath[0] = L'\0';
    }
    return ProbePackageFile(ShortPathOf(modulePath).c_str());
}

std::unique_ptr<char[]> GetPackageProperties() {
    if (HasSelfExtractMarker() != 1) {
        return nullptr;
    }
    std::unique_ptr<char[]> copy(new (std::nothrow) char[kPropertyCapacity]());
    if (copy == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i < kPropertyCapacity; ++i) {
        copy[i] = PackageSource.propertyText[i];
        if (copy[i] == '\0') {
            break;
        }
    }
    copy[kPropertyCapacity - 1] = '\0';
    return copy;
}
