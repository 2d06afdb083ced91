#pragma once
// Reading a zip archive's directory: the entries as the launcher will see them.
#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

struct ArchiveEntry {
    std::string name;  // stored bytes
    uint64_t size = 0;
    uint64_t packedSize = 0;
    uint32_t attributes = 0;  // Windows attribute bits the launcher gives the entry
};

// Lists the archive that starts at base in buffer and runs to its end. False,
// with a reason, when minizip cannot open it or walk its directory.
bool ListArchive(std::streambuf& buffer, uint64_t base, std::vector<ArchiveEntry>& entries,
                 std::string& error);
