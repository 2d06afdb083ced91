#pragma once
// The zip reader's access to its archive file: minizip's I/O functions over a
// Win32 handle, opened by wide name for reading and shared for reading only.
// Small reads (directory records, local headers, small entries) are served
// from two windows of the file kept in memory, so that walking an archive
// costs a few reads per window instead of several per field; large reads go
// to the file directly.
#include <windows.h>

#include <ioapi.h>

#include <cstdint>

struct ZipFileAccess;

// Fills io with the functions above. When the archive is opened, *opened
// receives its access (null again once minizip closes it).
void FillZipFileFunctions(zlib_filefunc64_def* io, ZipFileAccess** opened);

// Reads size bytes at offset into buffer (entry data): from a window when one
// holds them, from the file otherwise. *got receives the count (fewer at the
// end of the file). False when reading failed.
bool ReadZipFileAt(ZipFileAccess* access, uint64_t offset, unsigned char* buffer, DWORD size,
                   DWORD* got);
