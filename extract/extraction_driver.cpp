#include "extract/extraction_driver.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "extract/archive_budget.h"
#include "extract/archive_checks.h"
#include "extract/cabinet_extraction.h"
#include "extract/cabinet_paths.h"
#include "extract/entry_file_closer.h"
#include "extract/entry_name.h"
#include "extract/extraction_failure.h"
#include "extract/extraction_log.h"
#include "extract/zip_reader.h"
#include "diagnostics/diagnostic_log.h"
#include "common/folder_creation.h"
#include "common/path_components.h"
#include "common/process_state.h"
#include "common/run_failure.h"
#include "common/text_conversion.h"

namespace {

struct WatchedEntry {
    std::wstring name;  // "\" separators
    bool extracted = false;
};
std::vector<WatchedEntry> watchedEntries;

std::wstring WithBackslashes(std::wstring name) {
    for (wchar_t& c : name) {
        c = c == L'/' ? L'\\' : c;
    }
    return name;
}

WatchedEntry* FindWatchedEntry(const std::wstring& name) {
    std::wstring wanted = WithBackslashes(name);
    for (WatchedEntry& entry : watchedEntries) {
        if (CompareStringOrdinal(entry.name.c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return &entry;
        }
    }
    return nullptr;
}

// WorkFolder + "\" + name, when that fits a path buffer.
bool WorkFolderPath(const wchar_t* name, wchar_t* out) {
    return JoinFolderAndName(WorkFolder, name, std::wcslen(name), out, kPathCapacity);
}

// The whole text with its terminator as UTF-8, into a zero-filled buffer of
// kCabinetPathCapacity bytes: the cabinet extraction carries its paths in a
// form that holds every letter, whatever the ANSI code page. False when it
// does not fit or is not well-formed UTF-16.
bool ToCabinetPath(const wchar_t* text, char* out) {
    std::memset(out, 0, kCabinetPathCapacity);
    std::string narrow;
    if (!NarrowFromWide(CP_UTF8, text, WC_ERR_INVALID_CHARS, narrow) ||
        narrow.size() >= kCabinetPathCapacity) {
        return false;
    }
    std::memcpy(out, narrow.data(), narrow.size());
    return true;
}

// Cabinet members are closed and stamped on this thread: the stamping after
// the close may log, and only this thread writes the log.
bool ExtractCabinetArchive(const wchar_t* archivePath, const wchar_t* destination) {
    wchar_t cabinetPath[kPathCapacity];
    size_t length = std::wcslen(archivePath);
    if (length >= kPathCapacity) {
        LogExtraction(L"Cannot extract cabinet %s: its path is too long\n", archivePath);
        return false;
    }
    for (size_t i = 0; i <= length; ++i) {
        cabinetPath[i] = archivePath[i] == L'/' ? L'\\' : archivePath[i];
    }
    char narrowDestination[kCabinetPathCapacity];
    char narrowCabinet[kCabinetPathCapacity];
    if (!ToCabinetPath(destination, narrowDestination) ||
        !ToCabinetPath(cabinetPath, narrowCabinet)) {
        LogExtraction(L"Cannot extract cabinet %s: its path is too long\n", cabinetPath);
        return false;
    }
    if (!CabinetPathFits(narrowCabinet)) {
        LogExtraction(
            L"Cannot extract cabinet %s: its folder or name is longer than the %d bytes (UTF-8) "
            L"the cabinet library takes\n",
            cabinetPath, static_cast<int>(kLongestCabinetLibraryText));
        NoteRunFailure(RunFailure::PathTooLong, ERROR_FILENAME_EXCED_RANGE, cabinetPath);
        return false;
    }
    if (!CabinetMayBeExtracted(cabinetPath)) {
        return false;
    }
    int result = ExtractCabinet(narrowDestination, narrowCabinet, nullptr);
    if (result != 0) {
        LogExtraction(
            L"Cannot extract cabinet %s: it is damaged or a member cannot be "
            L"written (error %d)\n",
            cabinetPath, result);
        return false;
    }
    return true;
}

bool ExtractArchiveAtLevel(const wchar_t* archivePath, const wchar_t* destination,
                           NestedArchiveKind kind, int level, EntryFileCloser& closer);

void LogEntryFailure(const wchar_t* name, const wchar_t* archivePath, ZipResult result) {
    LogExtraction(L"Cannot extract entry %s of %s: %s (0x%X)\n", name, archivePath,
                  ZipResultReason(result), static_cast<unsigned>(result));
}

// Waits for the files of this archive handed to the closer; false, with the
// first one that failed logged as its entry's failure, when one did. Called
// before anything reads what was written, and before a later entry's failure
// is logged, so that the walk's one failure line names its first failed entry.
bool EarlierEntriesFinished(EntryFileCloser& closer, const wchar_t* archivePath) {
    std::vector<WrittenFile> failed = closer.Drain();
    if (failed.empty()) {
        return true;
    }
    const WrittenFile& first = failed.front();
    LogEntryFailure(first.name.c_str(), archivePath, ZipWriteError);
    NoteEntryWriteFailure(first.error, std::wstring(WorkFolder) + L"\\" + first.name);
    return false;
}

// Whether the entry's folder and file fit the paths Windows creates below the
// work folder; otherwise the run fails for a path too long, with a log line
// naming the entry and the bound (unless an earlier entry failed first).
bool EntryPathFits(const wchar_t* name, const wchar_t* archivePath, EntryFileCloser& closer) {
    PathBound bound = EntryPathBound(std::wcslen(WorkFolder), std::wstring_view(name));
    if (bound == PathBound::Fits) {
        return true;
    }
    if (!EarlierEntriesFinished(closer, archivePath)) {
        return false;
    }
    LogExtraction(
        L"Cannot extract entry %s of %s: its %s path would be longer than the %d characters "
        L"Windows allows\n",
        name, archivePath, bound == PathBound::Folder ? L"folder" : L"file",
        static_cast<int>(PathBoundLimit(bound)));
    NoteRunFailure(RunFailure::PathTooLong, ERROR_FILENAME_EXCED_RANGE,
                   std::wstring(WorkFolder) + L"\\" + name);
    return false;
}

// Writes one entry; false, with a log line naming the entry and the reason,
// when it cannot be written in full.
bool WriteEntry(ZipReader* reader, int index, const wchar_t* name, const wchar_t* archivePath,
                EntryFileCloser& closer) {
    std::unique_ptr<wchar_t[]> folder = GetEntryFolder(name);
    if (folder != nullptr) {
        wchar_t folderPath[kPathCapacity];
        if (WorkFolderPath(folder.get(), folderPath)) {
            // With its missing parents, as the shell's SHCreateDirectoryExW
            // would, without loading the shell (and the window system) into
            // every launch; a folder that exists is left as it is.
            CreateFolderPath(folderPath);
        }
    }
    ZipResult written = ExtractEntryToFile(reader, index, name, &closer);
    if (written != ZipOk) {
        if (EarlierEntriesFinished(closer, archivePath)) {
            LogEntryFailure(name, archivePath, written);
        }
        return false;
    }
    if (WatchedEntry* watched = FindWatchedEntry(name)) {
        watched->extracted = true;
    }
    return true;
}

// One entry of the walk: its folder, its file, and the archive it may be.
// False when the package is damaged; refused names are skipped.
bool ExtractEntry(ZipReader* reader, int index, const ZipEntryInfo& entry,
                  const wchar_t* archivePath, int level, EntryFileCloser& closer) {
    const wchar_t* name = entry.entryName;
    if (!IsEntryNameInside(name)) {
        LogExtraction(L"Refusing archive entry outside the work folder: %s\n", name);
        return true;
    }
    if (!EntryPathFits(name, archivePath, closer)) {
        return false;
    }
    // The entry's output path and any nested archive path are WorkFolder + "\" + name.
    wchar_t entryPath[kPathCapacity];
    if (!WorkFolderPath(name, entryPath)) {
        return false;  // EntryPathFits keeps every path within the buffer
    }
    if (!WriteEntry(reader, index, name, archivePath, closer)) {
        return false;
    }
    NestedArchiveKind kind = NestedArchiveKindOf(std::wstring_view(name));
    if (kind == NestedArchiveKind::None) {
        return true;
    }
    if (level >= kMaxArchiveNesting) {
        LogExtraction(
            L"Not following nested archive %s in %s: archives are followed %d levels "
            L"deep\n",
            name, archivePath, kMaxArchiveNesting);
        return true;
    }
    // The nested archive is read once it and every file before it is closed.
    if (!EarlierEntriesFinished(closer, archivePath)) {
        return false;
    }
    return ExtractArchiveAtLevel(entryPath, WorkFolder, kind, level + 1, closer);
}

bool ExtractZipArchive(const wchar_t* archivePath, int level, EntryFileCloser& closer) {
    if (!ZipArchiveMayBeExtracted(archivePath)) {
        return false;
    }
    ZipReader* reader = OpenZipArchive(archivePath);
    if (reader == nullptr) {
        LogExtraction(L"Cannot open zip archive %s\n", archivePath);
        return false;
    }
    ZipEntryInfo count = {};
    ReadEntryInfo(reader, -1, &count);
    bool complete = true;
    for (int index = 0; complete && index < count.entryIndex; ++index) {
        if (!RunBudget().TakeEntries(1)) {
            complete = false;
            if (!EarlierEntriesFinished(closer, archivePath)) {
                break;
            }
            LogExtraction(L"Stopping at entry %d of %s: this run has walked %d entries\n", index,
                          archivePath, static_cast<int>(kMaxEntriesPerRun));
            break;
        }
        ZipEntryInfo entry = {};
        ZipResult read = ReadEntryInfo(reader, index, &entry);
        if (read != ZipOk) {
            complete = false;
            if (EarlierEntriesFinished(closer, archivePath)) {
                LogExtraction(L"Cannot extract entry %d of %s: %s (0x%X)\n", index, archivePath,
                              ZipResultReason(read), static_cast<unsigned>(read));
            }
        } else {
            complete = ExtractEntry(reader, index, entry, archivePath, level, closer);
        }
    }
    CloseZipArchive(reader);
    if (!complete) {
        closer.Drain();  // the failure is logged: the files before it are closed all the same
        return false;
    }
    return EarlierEntriesFinished(closer, archivePath);
}

bool ExtractArchiveAtLevel(const wchar_t* archivePath, const wchar_t* destination,
                           NestedArchiveKind kind, int level, EntryFileCloser& closer) {
    if (archivePath == nullptr || destination == nullptr || RunBudget().EntriesExhausted()) {
        return false;
    }
    if (!RunBudget().TakeArchive()) {
        LogExtraction(L"Not extracting archive %s: this run has walked %d archives\n", archivePath,
                      static_cast<int>(kMaxArchivesPerRun));
        return false;
    }
    // The zip reader writes below the current directory: without it, entries
    // would land wherever the process happens to stand.
    if (!SetCurrentDirectoryW(destination)) {
        LogExtraction(L"Cannot enter the folder %s to extract %s (error %lu)\n", destination,
                      archivePath, GetLastError());
        return false;
    }
    if (kind == NestedArchiveKind::Cabinet) {
        return ExtractCabinetArchive(archivePath, destination);
    }
    return ExtractZipArchive(archivePath, level, closer);
}

}  // namespace

bool ExtractArchive(const wchar_t* archivePath, const wchar_t* destination) {
    StartRunBudget();
    ClearDeclaredSpace();
    for (WatchedEntry& entry : watchedEntries) {
        entry.extracted = false;
    }
    // Every file it is handed is finished before this returns.
    EntryFileCloser closer;
    return ExtractArchiveAtLevel(archivePath, destination, NestedArchiveKind::Zip, 0, closer);
}

void WatchForEntries(const std::vector<std::wstring>& names) {
    watchedEntries.clear();
    for (const std::wstring& name : names) {
        watchedEntries.push_back({WithBackslashes(name), false});
    }
}

bool WatchedEntryExtracted(const std::wstring& name) {
    const WatchedEntry* entry = FindWatchedEntry(name);
    return entry != nullptr && entry->extracted;
}

const wchar_t* ZipResultReason(ZipResult result) {
    switch (result) {
        case ZipFileError:
            return L"its file cannot be created";
        case ZipWriteError:
            return L"writing its file failed (is the disk full?)";
        case ZipHeaderError:
            return L"its header cannot be read, or its compression method is neither stored nor "
                   L"deflate";
        case ZipExtraFieldError:
            return L"its local extra field cannot be read";
        case ZipPasswordError:
            return L"it is encrypted with a password";
        case ZipDataError:
            return L"its data is damaged, cut short, or does not match its CRC-32 or size";
        default:
            return L"it cannot be read";
    }
}

std::unique_ptr<wchar_t[]> GetEntryFolder(const wchar_t* entryName) {
    if (entryName == nullptr) {
        return nullptr;
    }
    size_t length = std::wcslen(entryName);
    size_t last = length;
    for (size_t i = 0; i < length; ++i) {
        if (IsPathSeparator(entryName[i])) {
            last = i;
        }
    }
    if (last == length || last == 0 || IsPathSeparator(entryName[0])) {
        return nullptr;
    }
    std::unique_ptr<wchar_t[]> folder(new (std::nothrow) wchar_t[last + 1]);
    if (folder == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i < last; ++i) {
        folder[i] = entryName[i] == L'/' ? L'\\' : entryName[i];
    }
    folder[last] = L'\0';
    return folder;
}
