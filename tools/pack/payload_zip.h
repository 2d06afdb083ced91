#pragma once
// Zipping a folder payload with minizip: deflated files, stored folder
// entries, DOS times in local time plus an exact "UT" timestamp, and the
// attributes of the machine that made it.
#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

#include "tools/pack/file_facts.h"
#include "tools/pack/payload_tree.h"

struct DosDateTime {
    uint16_t date = 0;
    uint16_t time = 0;
};

// A local calendar time in DOS form (two-second steps), clamped to the years
// DOS times can hold, 1980 to 2107.
DosDateTime ToDosDateTime(const CalendarTime& local);

// The extended timestamp block with the modification time: tag "UT", size 5,
// flags 1, the time as signed 32-bit. Empty when the time does not fit.
std::string ExtendedTimestampBlock(int64_t unixTime);

// The "version made by" field: host system in the high byte, zip 2.0.
uint16_t VersionMadeBy(uint16_t hostSystem);

// Writes the zip archive of entries into buffer, starting at base. False,
// with the reason, when a file cannot be read or the archive not written.
bool WritePayloadZip(const std::vector<PayloadEntry>& entries, std::streambuf& buffer,
                     uint64_t base, std::string& error);
