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

// An open archive and what the reader keeps about it.
struct ZipReader;

// Opens an archive by its wide path, shared for reading only. Null when the
// file cannot be opened, is not a zip archive, or the current directory does
// not fit the root folder buffer.
ZipReader* OpenZipArchive(const wchar_t* archivePath);

// Index -1: the entry count in entryIndex, everything else empty. Otherwise
// the entry's record. The record is written only on ZipOk.
ZipResult ReadEntryInfo(ZipReader* reader, int entryIndex, ZipEntryInfo* info);

class EntryFileCloser;

// Writes the entry to the root folder + destinationName (a directory entry
// creates its folders below the root instead). Names that would leave the root,
// output paths longer than 259 characters and folder paths longer than 247 are
// refused with ZipFileError. A hidden, system or read-only file in the way
// loses those attributes first, so that it can be written anew.
// Without a closer the file is finished (times, close) before the call
// returns, and a failed close is a ZipWriteError; with one, the written file
// is handed to it, and its failure is the closer's to report.
ZipResult ExtractEntryToFile(ZipReader* reader, int entryIndex, const wchar_t* destinationName,
                             EntryFileCloser* closer = nullptr);

// Closes the archive and releases the reader.
ZipResult CloseZipArchive(ZipReader* reader);

// Test seam: how often the reader went back to the first entry to reach the
// one asked for, which an ascending walk never needs.
uint32_t ZipReaderRestarts(const ZipReader* reader);

// Creates rootFolder + relativePath and every missing folder on the way, parent
// first; failures (an existing folder, say) are ignored. False, creating
// nothing, when the folder's path would be longer than the 247 characters
// Windows allows for a folder.
bool CreateEntryFolders(const wchar_t* rootFolder, const wchar_t* relativePath);
