#include "extract/extraction_driver.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "extract/archive_budget.h"
#include "extract/archive_checks.h"
#include "extract/cabinet_extraction.h"
#include "extract/entry_name.h"
#include "extract/extraction_log.h"
#include "extract/zip_reader.h"
#include "launcher/diagnostic_log.h"
#include "launcher/process_state.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// WorkFolder + "\" + name, when that fits a path buffer.
bool WorkFolderPath(const wchar_t* name, wchar_t* out) {
    size_t folderLength = std::wcslen(WorkFolder);
    size_t nameLength = std::wcslen(name);
    if (folderLength + 1 + nameLength >= kPathCapacity) {
        return false;
    }
    std::wmemcpy(out, WorkFolder, folderLength);
    out[folderLength] = L'\\';
    std::wmemcpy(out + folderLength + 1, name, nameLength + 1);
    return true;
}

// The whole text with its terminator in the ANSI code page, into a zero-filled
// buffer of kPathCapacity bytes. False when it does not fit or has characters
// the code page lacks: a best-fit stand-in could turn into a separator or a
// different name.
bool ToAnsiPath(const wchar_t* text, char* out) {
    std::memset(out, 0, kPathCapacity);
    BOOL usedDefault = FALSE;
    bool utf8 = GetACP() == CP_UTF8;
    int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, -1, out,
                                     static_cast<int>(kPathCapacity), nullptr,
                                     utf8 ? nullptr : &usedDefault);
    if (length <= 0 || usedDefault) {
        std::memset(out, 0, kPathCapacity);
        return false;
    }
    return true;
}

void ExtractCabinetArchive(const wchar_t* archivePath, const wchar_t* destination) {
    wchar_t cabinetPath[kPathCapacity];
    size_t length = std::wcslen(archivePath);
    if (length >= kPathCapacity) {
        LogMessage(LogHandle, L"Refusing cabinet whose path is too long: %s\n", archivePath);
        return;
    }
    for (size_t i = 0; i <= length; ++i) {
        cabinetPath[i] = archivePath[i] == L'/' ? L'\\' : archivePath[i];
    }
    char narrowDestination[kPathCapacity];
    char narrowCabinet[kPathCapacity];
    if (!ToAnsiPath(destination, narrowDestination) || !ToAnsiPath(cabinetPath, narrowCabinet)) {
        LogMessage(LogHandle, L"Refusing cabinet whose path does not fit the ANSI code page: %s\n",
                   cabinetPath);
        return;
    }
    if (!CabinetMayBeExtracted(cabinetPath)) {
        return;
    }
    ExtractCabinet(narrowDestination, narrowCabinet, nullptr);
}

bool ContainsText(const wchar_t* text, const wchar_t* part) {
    return std::wcsstr(text, part) != nullptr;
}

void ExtractArchiveAtLevel(const wchar_t* archivePath, const wchar_t* destination, int level);

// One entry of the walk: its folder, its file, and the archive it may be.
void ExtractEntry(ZipReader* reader, int index, const ZipEntryInfo& entry,
                  const wchar_t* archivePath, int level) {
    const wchar_t* name = entry.entryName;
    if (!IsEntryNameInside(name)) {
        LogExtraction(L"Refusing archive entry outside the work folder: %s\n", name);
        return;
    }
    // The entry's output path and any nested archive path are WorkFolder + "\" + name.
    wchar_t entryPath[kPathCapacity];
    if (!WorkFolderPath(name, entryPath)) {
        LogExtraction(L"Refusing archive entry whose path is too long: %s\n", name);
        return;
    }
    std::unique_ptr<wchar_t[]> folder(GetEntryFolder(name));
    if (folder != nullptr) {
        wchar_t folderPath[kPathCapacity];
        if (WorkFolderPath(folder.get(), folderPath) &&
            GetFileAttributesW(folderPath) == INVALID_FILE_ATTRIBUTES) {
            SHCreateDirectoryExW(nullptr, folderPath, nullptr);
        }
    }
    // Only an archive written whole is followed: one that failed to be written
    // (for instance over the archive being read, when it names itself) is not.
    if (ExtractEntryToFile(reader, index, name) != ZipOk) {
        return;
    }
    if (ContainsText(name, L".zip") || ContainsText(name, L".cab")) {
        if (level >= kMaxArchiveNesting) {
            LogExtraction(
                L"Not following nested archive %s in %s: archives are followed %d levels "
                L"deep\n",
                name, archivePath, kMaxArchiveNesting);
            return;
        }
        ExtractArchiveAtLevel(entryPath, WorkFolder, level + 1);
    }
}

void ExtractZipArchive(const wchar_t* archivePath, int level) {
    if (!ZipArchiveMayBeExtracted(archivePath)) {
        return;
    }
    ZipReader* reader = OpenZipArchive(archivePath);
    if (reader == nullptr) {
        LogExtraction(L"Cannot open zip archive %s\n", archivePath);
        return;
    }
    ZipEntryInfo count = {};
    ReadEntryInfo(reader, -1, &count);
    for (int index = 0; index < count.entryIndex; ++index) {
        if (!RunBudget().TakeEntries(1)) {
            LogExtraction(L"Stopping at entry %d of %s: this run has walked %d entries\n", index,
                          archivePath, static_cast<int>(kMaxEntriesPerRun));
            break;
        }
        // A fresh record for each entry: a failed read must not leave the
        // previous entry's name to be written or followed again.
        ZipEntryInfo entry = {};
        ZipResult read = ReadEntryInfo(reader, index, &entry);
        if (read != ZipOk && index >= reader->unreachableFrom) {
            LogExtraction(
                L"Stopping at entry %d of %s: its directory cannot be read further "
                L"(%d entries declared)\n",
                index, archivePath, count.entryIndex);
            break;
        }
        if (read != ZipOk) {
            LogExtraction(L"Skipping entry %d of %s: its header cannot be read (0x%X)\n", index,
                          archivePath, static_cast<unsigned>(read));
            continue;
        }
        ExtractEntry(reader, index, entry, archivePath, level);
    }
    CloseZipArchive(reader);
}

void ExtractArchiveAtLevel(const wchar_t* archivePath, const wchar_t* destination, int level) {
    if (archivePath == nullptr || destination == nullptr || RunBudget().EntriesExhausted()) {
        return;
    }
    if (!RunBudget().TakeArchive()) {
        LogExtraction(L"Not extracting archive %s: this run has walked %d archives\n", archivePath,
                      static_cast<int>(kMaxArchivesPerRun));
        return;
    }
    // The zip reader writes below the current directory: without it, entries
    // would land wherever the process happens to stand.
    if (!SetCurrentDirectoryW(destination)) {
        LogMessage(LogHandle, L"Cannot enter the folder %s to extract %s\n", destination,
                   archivePath);
        return;
    }
    if (ContainsText(archivePath, L".cab")) {
        ExtractCabinetArchive(archivePath, destination);
        return;
    }
    ExtractZipArchive(archivePath, level);
}

}  // namespace

void ExtractArchive(const wchar_t* archivePath, const wchar_t* destination) {
    StartRunBudget();
    ExtractArchiveAtLevel(archivePath, destination, 0);
}

wchar_t* GetEntryFolder(const wchar_t* entryName) {
    if (entryName == nullptr) {
        return nullptr;
    }
    size_t length = std::wcslen(entryName);
    size_t last = length;
    for (size_t i = 0; i < length; ++i) {
        if (IsSeparator(entryName[i])) {
            last = i;
        }
    }
    if (last == length || last == 0 || IsSeparator(entryName[0])) {
        return nullptr;
    }
    wchar_t* folder = new (std::nothrow) wchar_t[last + 1];
    if (folder == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i < last; ++i) {
        folder[i] = entryName[i] == L'/' ? L'\\' : entryName[i];
    }
    folder[last] = L'\0';
    return folder;
}
