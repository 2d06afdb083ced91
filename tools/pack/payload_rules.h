#pragma once
// What a payload must be for the launcher to start its client: the rules for
// entry names, the client programs, and the text files the launcher rewrites.
// Pure functions over names (UTF-8, "/" separators) and bytes, shared by
// folder and zip payloads.
#include <cstdint>
#include <string>
#include <vector>

#include "extract/entry_rules.h"

// Why the launcher would refuse, skip or fail on an entry of this UTF-8 name
// (the rules of extract/entry_rules.h), or empty. A folder's name ends in
// "/". Names are held to what fits below the longest work folder.
std::string EntryNameProblem(const std::string& name);

struct ClientChoice {
    std::string program;        // "bin/velmar.exe" or "bin/launcher.exe", empty without
    std::string configuration;  // the file the launcher rewrites for that program
};

// The client the launcher will start, found among the payload's file names
// (letter case does not matter, as on Windows).
ClientChoice ChooseClient(const std::vector<std::string>& fileNames);

// The refusal for a payload without a client: names the single top-level
// folder that holds one, when there is such a folder.
std::string MissingClientProblem(const std::vector<std::string>& fileNames);

// Whether the launcher rewrites (or reads) this file: the configuration of
// the chosen client, and the event name file.
bool IsRewrittenFile(const std::string& name, const ClientChoice& client);

// Why the launcher cannot take these bytes as UTF-8 text, or empty.
std::string TextFileProblem(const std::string& bytes);

// The refusal for a zip entry the launcher cannot extract, or empty: its
// stored name bytes, whether they are flagged as UTF-8, whether the launcher
// takes the entry as a folder, and its encryption and method.
std::string ZipEntryProblem(const std::string& stored, bool utf8Flag, bool folder, bool encrypted,
                            uint16_t method);

// The refusal for a file the launcher rewrites in place, which must be
// writable UTF-8 text, or empty.
std::string RewrittenFileProblem(const std::string& name, bool readOnly, const std::string& bytes);

// Whether an entry of this name holds data that is compressed already
// (media, archives, images, fonts), so that it is stored as it is.
bool IsCompressedByName(const std::string& name);

// Whether a name differs from plain ASCII, so the zip marks it as UTF-8.
bool NeedsUtf8Flag(const std::string& name);

// Compares names without regard to ASCII letter case.
bool SameNameIgnoringCase(const std::string& a, const std::string& b);
