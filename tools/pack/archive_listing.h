#pragma once
// Reading a zip archive's directory: the entries as the launcher will see them.
#include <cstdint>
#include <functional>
#include <streambuf>
#include <string>
#include <vector>

#include "tools/pack/zip_stream_io.h"

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

class ProgressMeter;

// What a walk over an archive's entries does with each (names as stored).
struct EntryVisitor {
    std::function<bool(const std::string& name)> skips;  // not read at all; null: none
    std::function<bool(const std::string& name)> keeps;  // content handed to take; null: none
    // Takes a kept entry's content; false, with the reason, ends the walk.
    std::function<bool(const std::string& name, std::string& content, std::string& error)> take;
    ProgressMeter* progress = nullptr;  // counts every byte read and every entry
};

// Reads every entry's data the way the launcher will (local header, method,
// CRC-32), in the archive's order, in the archive from base to end (0: the
// buffer's end). False, with the entry's name and the reason, at the first
// entry that does not read back, or with take's reason.
bool VisitArchiveEntries(std::streambuf& buffer, uint64_t base, uint64_t end,
                         const EntryVisitor& visitor, std::string& error);

// Reads every entry's data but the skipped ones, and keeps the content of
// the entries named in wanted (letter case ignored), in the order of wanted.
bool ReadArchiveData(std::streambuf& buffer, uint64_t base, const std::vector<std::string>& wanted,
                     std::vector<std::string>& contents, std::string& error,
                     const std::function<bool(const std::string&)>& skips = nullptr,
                     ProgressMeter* progress = nullptr);

// The refusal for an entry the launcher cannot extract (its stored name, its
// method or encryption), or empty.
std::string ArchiveEntryProblem(const ArchiveEntry& entry);

// Whether the launcher finds entries of the archive in the window
// overlapping (several directory records sharing one stream, the zip-bomb
// form: it refuses the whole archive); entryName is the one that overlaps,
// as UTF-8, or empty when it is the directory.
bool FindOverlap(StreamWindow window, const std::vector<ArchiveEntry>& entries,
                 std::string& entryName);
