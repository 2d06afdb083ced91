#pragma once
// The entries of a folder payload: every file and sub-folder below the
// folder, in a fixed order (names sorted, each folder before its content).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/pack/file_facts.h"
#include "tools/pack/payload_exclusion.h"

struct PayloadEntry {
    std::string name;         // stored name, UTF-8: "/" separators, a folder's ends in "/"
    bool nameIsUtf8 = false;  // the name goes beyond ASCII, so the zip flags it
    std::filesystem::path source;
    FileFacts facts;
};

// minizip writes the plain (not 64-bit) end record for fewer than 65535
// entries.
constexpr size_t kMaximumEntryCount = 65534;

// Joins the stored name of a child from its folder's name and its own.
std::string ChildEntryName(const std::string& folderName, const std::string& childName,
                           bool isDirectory);

// What the walk leaves out: the patterns, and the names of the files and
// folders they matched (a folder's content is not walked, nor listed).
struct TreeWalk {
    PayloadExclusion exclusion;
    std::vector<std::string> leftOut;
};

// Lists root's content but what walk leaves out. False, with the reason, when a part cannot be
// read, is neither file nor folder, or makes a name or count the launcher cannot take. An empty
// folder gives an empty list.
bool CollectPayloadTree(const std::filesystem::path& root, TreeWalk& walk,
                        std::vector<PayloadEntry>& entries, std::string& error);
