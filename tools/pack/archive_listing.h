#pragma once
// Reading a zip archive's directory: the entries as the launcher will see them.
#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

struct ArchiveEntry {
    std::string name;   // stored bytes
    bool utf8 = false;  // the name is flagged as UTF-8
    uint16_t method = 0;
    bool encrypted = false;
    uint64_t size = 0;
    uint64_t packedSize = 0;
    uint32_t crc = 0;
    uint32_t dosDate = 0;     // DOS date in the high half, time in the low half
    uint32_t attributes = 0;  // Windows attribute bits the launcher gives the entry
};

// Lists the archive that starts at base in buffer and runs to end (0: to the
// buffer's end). False, with a reason, when minizip cannot open it or walk
// its directory.
bool ListArchive(std::streambuf& buffer, uint64_t base, std::vector<ArchiveEntry>& entries,
                 std::string& error, uint64_t end = 0);

// Reads every entry's data the way the launcher will (local header, method,
// CRC-32) and keeps the content of the entries named in wanted (letter case
// ignored), in the order of wanted. False, with the entry's name and the
// reason, at the first entry that does not read back.
bool ReadArchiveData(std::streambuf& buffer, uint64_t base, const std::vector<std::string>& wanted,
                     std::vector<std::string>& contents, std::string& error);
