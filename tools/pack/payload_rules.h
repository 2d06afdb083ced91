#pragma once
// What a payload must be for the launcher to start its client: the rules for
// entry names, the client programs, and the text files the launcher rewrites.
// Pure functions over names (UTF-8, "/" separators) and bytes, shared by
// folder and zip payloads.
#include <cstdint>
#include <string>
#include <vector>

// The launcher joins each name to a work folder such as
// C:\Users\NAME\AppData\Local\Temp\OffPlay\rec_99 in a path of at most 259
// characters. Names of at most 160 characters leave room for a work folder
// of up to 98 characters, more than any usual temporary folder gives.
constexpr size_t kMaximumEntryNameCharacters = 160;

// Why the launcher would refuse to extract an entry of this name, or empty.
// A folder's name may end in "/".
std::string EntryNameProblem(const std::string& name);

// The number of UTF-16 characters the launcher makes of a UTF-8 name.
size_t Utf16Length(const std::string& utf8);

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

// The refusal for a zip entry the launcher cannot extract (shown: its name
// for showing), or empty.
std::string ZipEntryProblem(const std::string& shown, bool encrypted, uint16_t method);

// The refusal for a file the launcher rewrites in place, which must be
// writable UTF-8 text, or empty.
std::string RewrittenFileProblem(const std::string& name, bool readOnly, const std::string& bytes);

// Whether an entry of this name holds data that is compressed already
// (media, archives, images, fonts), so that it is stored as it is.
bool IsCompressedByName(const std::string& name);

// Whether a name differs from plain ASCII, so the zip marks it as UTF-8.
bool NeedsUtf8Flag(const std::string& name);
bool IsValidUtf8(const std::string& bytes);

// Compares names without regard to ASCII letter case.
bool SameNameIgnoringCase(const std::string& a, const std::string& b);
