#pragma once
// Checks how a zip archive's entries lie in the file before any is written:
// entries whose data overlap (several directory records sharing one local
// header and its stream, the known zip-bomb form) are refused, and the sizes
// the entries declare are added up, to be compared with the free space of the
// drive that receives them.
#include <cstdint>

#include "extract/byte_source.h"

struct ZipLayout {
    bool directoryFound = false;  // false: not an archive the check can read
    bool overlapping = false;     // two entries, or an entry and the directory, overlap
    uint32_t recordsRead = 0;     // directory records read (may be fewer than declared)
    uint64_t declaredSize = 0;    // sum of the records' uncompressed sizes
    // The directory record (0 first) of an entry that overlaps one before it
    // or the directory; UINT32_MAX when it is the directory that overlaps.
    uint32_t overlappingRecord = UINT32_MAX;
};

// Finds the end-of-archive record (and its 64-bit form) as minizip does, reads
// the directory records that are there, each entry's local header, and sorts
// the entries by position: each entry's local header, name, extra field and
// compressed data must end before the next entry (or the directory) begins.
ZipLayout ReadZipLayout(ByteSource& source);

// An archive without entries: nothing but its end record (signature, disk
// numbers, counts, directory size and offset all zero) and a comment running
// exactly to the end. minizip takes such a record at offset 0 for "not
// found"; the launcher extracts it as empty.
bool IsEmptyZip(ByteSource& source);
