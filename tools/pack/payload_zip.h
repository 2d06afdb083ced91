#pragma once
// Zipping a folder payload with minizip: files deflated, or stored when they
// are compressed already; folder entries stored; DOS times in UTC plus an
// exact "UT" timestamp; the attributes of the machine that made it.
#include <cstdint>
#include <functional>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "tools/pack/file_facts.h"
#include "tools/pack/payload_tree.h"

struct DosDateTime {
    uint16_t date = 0;
    uint16_t time = 0;
};

class ProgressMeter;

struct ZipWriteOptions {
    int level = 6;          // deflate level; 0 stores every file
    unsigned threads = 1;   // 1: each file read and deflated in turn; more: workers ahead
    bool verbose = false;   // a line on stdout for each entry
    bool capTimes = false;  // no stored time later than timeCap
    int64_t timeCap = 0;    // SOURCE_DATE_EPOCH
    ProgressMeter* progress = nullptr;
};

// How much of a file decides whether it is deflated.
constexpr size_t kDeflateSampleLength = 1024 * 1024;

// Whether deflating this first part of a file gains enough (3 % or more) to
// be worth it; files that gain less are stored.
bool DeflateGainsEnough(const char* sample, size_t length, int level);
// The same rule on a sample's deflated length.
bool PackedGainsEnough(uint64_t packedLength, uint64_t length);

// Bytes in memory, without the zero-filling of a string or vector.
struct ByteBlock {
    std::unique_ptr<char[]> bytes;
    size_t length = 0;
};

// The raw deflate stream of data, as the archive's own deflate writes it
// (the same parameters, the same bytes); false when zlib fails. text: zlib
// took the data for text, which the archive's directory records.
bool DeflateWhole(const char* data, size_t length, int level, ByteBlock& out, bool& text);

// A calendar time in DOS form (two-second steps), clamped to the years
// DOS times can hold, 1980 to 2107.
DosDateTime ToDosDateTime(const CalendarTime& local);

// The extended timestamp block with the modification time: tag "UT", size 5,
// flags 1, the time as signed 32-bit. Empty when the time does not fit.
std::string ExtendedTimestampBlock(int64_t unixTime);

// The "version made by" field: host system in the high byte, zip 2.0.
uint16_t VersionMadeBy(uint16_t hostSystem);

// Writes the zip archive of entries into buffer, starting at base, in their
// order; with options.threads above 1, that many workers read and deflate the
// files ahead of the writing (see deflate_ahead.h), for the same bytes. False,
// with the reason, when a file cannot be read or the archive not written, and
// when the run is interrupted (see Interrupted).
bool WritePayloadZip(const std::vector<PayloadEntry>& entries, std::streambuf& buffer,
                     uint64_t base, const ZipWriteOptions& options, std::string& error);

// Writes a new zip archive into buffer at base from the entries of the zip
// archive in source that keeps accepts (names as stored), each entry's
// compressed data, CRC-32, name, time, attributes and extra fields as they
// are. False, with the reason, when the archive is not written, and when the
// run is interrupted.
bool RewriteZipArchive(std::streambuf& source, std::streambuf& buffer, uint64_t base,
                       const std::function<bool(const std::string&)>& keeps,
                       const ZipWriteOptions& options, std::string& error);
