#pragma once
// The rules that decide whether the launcher extracts an archive entry, and
// how: its name, which entries are archives to follow, and the bounds on
// archives, entries and paths. velmar-pack refuses a payload by the same
// rules, so both sides link this one copy. Portable logic over names and
// numbers; a wide (wchar_t) name is UTF-16, as on Windows.
#include <cstddef>
#include <cstdint>
#include <string_view>

// How deep nested archives are followed: the payload is level 0, an archive
// inside it level 1, and so on. Archives inside one at this level are written
// and not followed; this also ends archives that contain themselves.
constexpr int kMaxArchiveNesting = 8;
// One run walks at most so many archives and entries (zip entries and
// cabinet members together).
constexpr uint32_t kMaxArchivesPerRun = 256;
constexpr uint32_t kMaxEntriesPerRun = 100000;

// Windows creates folders with paths of at most 247 characters (MAX_PATH
// less room for an 8.3 name) and files with paths of at most 259.
constexpr size_t kLongestFolderPath = 247;
constexpr size_t kLongestFilePath = 259;
// The longest work folder (%TEMP%\OffPlay\rec_N) a package is made to fit
// below: C:\Users\NAME\AppData\Local\Temp\OffPlay\rec_99 is about 60.
constexpr size_t kLongestWorkFolder = 98;
// What that leaves an entry's name (UTF-16 characters) below such a work
// folder and its separator: its folder part, and the whole name.
constexpr size_t kLongestEntryFolderPart = kLongestFolderPath - kLongestWorkFolder - 1;
constexpr size_t kLongestEntryName = kLongestFilePath - kLongestWorkFolder - 1;
// A zip entry's stored name, in bytes: the reader's name buffer.
constexpr size_t kLongestStoredName = 259;
// The cabinet library's names and paths (the member names it reads, the
// cabinet's folder and file name it is given) are buffers of 256 bytes,
// terminator included.
constexpr size_t kLongestCabinetLibraryText = 255;

enum class EntryNameVerdict {
    Inside,        // a relative path that stays inside the folder
    Empty,         // no name at all
    StartsAtRoot,  // a leading separator: absolute or network names
    HoldsColon,    // a drive letter or an alternate stream
    LeadsOutside,  // a component of dots and blanks only ("..", what trims to it)
    NamesDevice,   // a component the platform opens as a device (CON, nul.txt, COM1)
};

// Judges a name as a path below the folder it is extracted into. Both "/"
// and "\" separate; empty components ("a//b") are taken, as the file system
// takes them. char: UTF-8; wchar_t: UTF-16.
template <typename Char>
EntryNameVerdict JudgeEntryName(std::basic_string_view<Char> name);

// Well-formed UTF-8 as the platform's strict conversion takes it: no
// overlong forms (E0 80 80), no surrogates (ED A0 80), nothing past U+10FFFF
// (lead bytes F4 90 and up, F5 to FF).
bool IsValidUtf8(std::string_view bytes);
// The UTF-16 characters that a well-formed UTF-8 text gives.
size_t Utf16Length(std::string_view utf8);

enum class StoredNameVerdict {
    Usable,
    TooLong,  // more than kLongestStoredName bytes
    HoldsNul,
    NotUtf8,  // flagged as UTF-8, but not well formed
};

// A zip entry's stored name, before it is decoded: names flagged as UTF-8
// are decoded as UTF-8, all others in the ANSI code page of the machine that
// extracts them.
StoredNameVerdict JudgeStoredName(std::string_view bytes, bool utf8Flag);
// Whether a stored name's reading depends on that code page: unflagged, and
// not plain ASCII.
bool DependsOnCodePage(std::string_view bytes, bool utf8Flag);

// What an entry is to the extraction by its last component: a nested zip
// archive (ends in ".zip"), a cabinet (".cab"), or neither. Letter case
// counts; a folder's name never does.
enum class NestedArchiveKind { None, Zip, Cabinet };
template <typename Char>
NestedArchiveKind NestedArchiveKindOf(std::basic_string_view<Char> name);

enum class PathBound { Fits, Folder, File };

// Whether an entry of this name (a folder's ends in a separator) fits the
// bounds when it is written below a folder whose path has baseLength UTF-16
// characters, joined with one separator: the folder path it needs within
// kLongestFolderPath, its file's path within kLongestFilePath.
template <typename Char>
PathBound EntryPathBound(size_t baseLength, std::basic_string_view<Char> name);
// The bound that PathBound names, in characters.
size_t PathBoundLimit(PathBound bound);

// Whether the cabinet library takes a cabinet at this UTF-8 path: it is
// given the folder (up to and with the last separator) and the file name
// apart, each within kLongestCabinetLibraryText bytes.
bool CabinetPathFits(std::string_view utf8Path);
