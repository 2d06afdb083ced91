#pragma once
// The payload given on the command line: a folder that the tool zips, or a
// zip archive that it takes byte for byte. Either is refused when the
// launcher could not start its client from it.
#include <cstdint>
#include <filesystem>
#include <streambuf>
#include <string>
#include <vector>

#include "tools/pack/payload_rules.h"
#include "tools/pack/payload_tree.h"

enum class PayloadKind { Folder, ZipArchive };

struct ZipWriteOptions;

struct Payload {
    PayloadKind kind = PayloadKind::Folder;
    std::filesystem::path path;
    std::vector<PayloadEntry> entries;  // a folder's content
    size_t entryCount = 0;              // entries the archive will hold
    // A folder's file sizes; the zip's size, or the packed sizes of the
    // entries kept from a zip that is written anew.
    uint64_t fileBytes = 0;
    ClientChoice client;
    PayloadExclusion exclusion;
    std::vector<std::string> leftOut;  // what the exclusion left out, with its pattern
};

// How the payload is read: what is left out, and whether the check of a zip
// shows progress.
struct PayloadReading {
    std::vector<std::string> excludes;
    bool showProgress = false;
};

// Reads the folder's list, or checks the zip archive entry by entry. False,
// with the reason, when the payload is missing, empty or not something the
// launcher can extract and start.
bool ReadPayload(const std::filesystem::path& path, Payload& payload, std::string& error,
                 const PayloadReading& reading = PayloadReading());

// Whether the payload goes into the package as it is: a zip archive from
// which nothing is left out.
bool TakenByteForByte(const Payload& payload);

// The fewest bytes the payload's archive can take with a deflate level: a
// zip's own size; for a folder the headers and the files that are stored.
uint64_t SmallestArchiveSize(const Payload& payload, int level);

// Writes the payload's archive into buffer at base.
bool WritePayload(const Payload& payload, std::streambuf& buffer, uint64_t base,
                  const ZipWriteOptions& options, std::string& error);

// Whether bytes begin with the local file header signature PK\3\4.
bool StartsWithLocalHeader(const std::string& firstBytes);
