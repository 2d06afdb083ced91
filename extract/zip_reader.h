#pragma once
// Reads one zip archive (minizip's unzip part over the platform's file calls)
// and writes its entries below a root folder: the process's current directory
// at the time the archive was opened.
#include <windows.h>

#include <cstdint>

#include "common/process_state.h"

// Results of every operation except OpenZipArchive.
enum ZipResult : int {
    ZipOk = 0,
    ZipFileError = 0x200,        // the output file cannot be created (or may not be)
    ZipWriteError = 0x400,       // writing to the output file failed
    ZipHeaderError = 0x700,      // the entry's headers disagree or cannot be used
    ZipExtraFieldError = 0x800,  // the entry's local extra field cannot be read
    ZipPasswordError = 0x1000,   // encrypted, and the empty password does not fit
    ZipBadArgument = 0x10000,    // no reader, no record, or an index outside the archive
    ZipDataError = 0x5000000,    // reading, inflating or checking the entry's data failed
};

struct ZipEntryInfo {
    int32_t entryIndex;  // position in the directory; for index -1, the entry count
    wchar_t entryName[kPathCapacity];
    // 0x01 read-only, 0x02 hidden, 0x04 system, 0x10 directory, 0x20 archive
    uint32_t fileAttributes;
    FILETIME lastAccessTime;  // UTC
    FILETIME creationTime;
    FILETIME lastWriteTime;
    uint32_t packedSize;
    uint32_t unpackedSize;
};

// What the reader keeps about its cached entry beyond the public record.
struct ZipEntryDetails {
    uint32_t crc = 0;
    unsigned method = 0;
    unsigned flags = 0;
    uint32_t dosDateTime = 0;  // DOS date in the high 16 bits, time in the low 16
};

struct ZipFileAccess;  // zip_file_access.h

struct ZipReader {
    void* archive = nullptr;                 // minizip's handle on the open archive file
    wchar_t rootFolder[kPathCapacity] = {};  // ends in "\" or "/"
    int32_t entryCount = 0;
    ZipEntryInfo cachedEntry = {};
    int32_t cachedIndex = -1;  // -1 while nothing is cached
    ZipEntryDetails cachedDetails;
    // The directory entry minizip stands on; kUnknownPosition after a failed
    // step, when only a restart from the first entry tells where it is.
    int32_t currentIndex = 0;
    // Directory records from this index on cannot be reached: the one before
    // could not be read, so stepping past it makes no progress.
    int32_t unreachableFrom = 0;
    uint32_t restarts = 0;  // how often a move went back to the first entry
    // The archive file under minizip, read directly for entry data.
    ZipFileAccess* archiveFile = nullptr;
    // The entry whose data minizip has open and untouched since reading its
    // record (its local header is checked then), or -1: extracting it right
    // after its record needs no second open.
    int32_t dataOpenIndex = -1;
};

// Opens an archive by its wide path, shared for reading only. Null when the
// file cannot be opened, is not a zip archive, or the current directory does
// not fit the root folder buffer.
ZipReader* OpenZipArchive(const wchar_t* archivePath);

// Index -1: the entry count in entryIndex, everything else empty. Otherwise
// the entry's record. The record is written only on ZipOk.
ZipResult ReadEntryInfo(ZipReader* reader, int entryIndex, ZipEntryInfo* info);

// Writes the entry to rootFolder + destinationName (a directory entry creates
// its folders below the root instead). Names that would leave the root, and
// output paths longer than 259 characters, are refused with ZipFileError.
ZipResult ExtractEntryToFile(ZipReader* reader, int entryIndex, const wchar_t* destinationName);

// Closes the archive and releases the reader.
ZipResult CloseZipArchive(ZipReader* reader);

// Creates rootFolder + relativePath and every missing folder on the way, parent
// first; failures (an existing folder, say) are ignored. False, creating
// nothing, when the whole path would be longer than 259 characters.
bool CreateEntryFolders(const wchar_t* rootFolder, const wchar_t* relativePath);
