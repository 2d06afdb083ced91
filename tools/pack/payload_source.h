#pragma once
// The payload given on the command line: a folder that the tool zips, or a
// zip archive that it takes byte for byte once it has checked that the
// launcher can read it.
#include <cstdint>
#include <filesystem>
#include <streambuf>
#include <string>
#include <vector>

#include "tools/pack/payload_tree.h"

enum class PayloadKind { Folder, ZipArchive };

struct Payload {
    PayloadKind kind = PayloadKind::Folder;
    std::filesystem::path path;
    std::vector<PayloadEntry> entries;  // a folder's content
    size_t entryCount = 0;              // entries the archive will hold
};

// Reads the folder's list, or checks the zip archive. False, with the reason,
// when the payload is missing, empty or not something the launcher can read.
bool ReadPayload(const std::filesystem::path& path, Payload& payload, std::string& error);

// Writes the payload's archive into buffer at base.
bool WritePayload(const Payload& payload, std::streambuf& buffer, uint64_t base,
                  std::string& error);

// Whether bytes begin with the local file header signature PK\3\4.
bool StartsWithLocalHeader(const std::string& firstBytes);
