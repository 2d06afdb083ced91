#include "extract/archive_checks.h"

#include <windows.h>

#include <string>

#include "extract/archive_budget.h"
#include "extract/cabinet_structure.h"
#include "extract/extraction_failure.h"
#include "extract/extraction_log.h"
#include "extract/file_byte_source.h"
#include "extract/zip_layout.h"
#include "common/process_state.h"
#include "common/unique_handle.h"

namespace {

UniqueFileHandle OpenForChecking(const wchar_t* path) {
    return UniqueFileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

bool DeclaredSizeFits(const wchar_t* archivePath, unsigned long long declaredSize) {
    AddDeclaredSpace(declaredSize);
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(WorkFolder, &available, nullptr, nullptr) ||
        declaredSize <= available.QuadPart) {
        return true;
    }
    LogExtraction(
        L"Refusing archive %s: its entries declare %s bytes, the work folder's drive "
        L"has %s bytes free\n",
        archivePath, std::to_wstring(declaredSize).c_str(),
        std::to_wstring(available.QuadPart).c_str());
    NoteSpaceShortfall();
    return false;
}

bool ZipArchiveMayBeExtracted(const wchar_t* archivePath) {
    UniqueFileHandle file = OpenForChecking(archivePath);
    if (!file) {
        return true;  // the reader's own open fails and says so
    }
    FileByteSource source(file.get());
    ZipLayout layout = ReadZipLayout(source);
    if (!layout.directoryFound) {
        return true;
    }
    if (layout.overlapping) {
        LogExtraction(
            L"Refusing zip archive %s: its entries overlap each other or its "
            L"directory\n",
            archivePath);
        return false;
    }
    return DeclaredSizeFits(archivePath, layout.declaredSize);
}

bool CabinetMayBeExtracted(const wchar_t* cabinetPath) {
    UniqueFileHandle file = OpenForChecking(cabinetPath);
    if (!file) {
        LogExtraction(L"Cannot open cabinet %s (error %lu)\n", cabinetPath, GetLastError());
        return false;
    }
    FileByteSource source(file.get());
    CabinetStructure structure = CheckCabinetStructure(source);
    if (!structure.sound) {
        LogExtraction(L"Refusing cabinet %s: %s\n", cabinetPath, structure.reason);
        return false;
    }
    if (!RunBudget().TakeEntries(structure.fileCount)) {
        LogExtraction(L"Not extracting cabinet %s: this run has already walked %d entries\n",
                      cabinetPath, static_cast<int>(kMaxEntriesPerRun));
        return false;
    }
    return DeclaredSizeFits(cabinetPath, structure.declaredSize);
}
