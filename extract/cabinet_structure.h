#pragma once
// Checks a cabinet's structure before the platform's decompression library
// sees it: that library trusts the file, and some damaged cabinets crash it
// (no folders, corrupt compressed blocks) or make it wait for a next cabinet
// for ever. Only what passes every check is handed over.
#include <cstdint>
#include <string>
#include <vector>

#include "extract/byte_source.h"

struct CabinetStructure {
    bool sound = false;
    // When not sound, why, as the end of a log line ("it declares no folders").
    const wchar_t* reason = L"";
    uint32_t fileCount = 0;
    uint64_t declaredSize = 0;  // the sum of the members' sizes
};

// Reads the header, the folder and file records and every data block:
// - everything lies inside the file (and inside the size the header states);
// - no previous or next cabinet (a set of cabinets cannot be extracted here);
// - at least one folder; folders' data do not overlap; each file names a folder
//   that exists and lies inside that folder's uncompressed data;
// - data blocks: sizes within the format's limits, checksums where present;
//   stored blocks as long as they unpack; compressed (MSZIP) blocks are
//   inflated here and must give exactly their stated size. Other compression
//   types cannot be checked this way and are refused.
// names, when given, receives each member's stored name as the records hold
// them, in their order.
struct CabinetMemberName {
    std::string stored;
    bool utf8 = false;  // flagged as UTF-8; otherwise in the ANSI code page
};
CabinetStructure CheckCabinetStructure(ByteSource& source,
                                       std::vector<CabinetMemberName>* names = nullptr);

// The cabinet format's checksum of a data block's bytes, continued from seed.
uint32_t CabinetChecksum(const unsigned char* data, size_t length, uint32_t seed);
