#pragma once
// Extracts an archive into the work folder: the entries of a zip archive, with
// the folders they need, and every nested zip or cabinet archive among them.

#include <string>
#include <vector>

// Nested archives are followed kMaxArchiveNesting levels deep (see
// entry_rules.h); archives below that are written, not followed, with one log
// line.
#include "extract/entry_rules.h"
#include "extract/zip_reader.h"

// Makes the destination the current directory (and leaves it so), then
// extracts the zip archive there, following nested archives. True when every
// entry was written in full. False, after one log line that names the entry
// or archive and the reason, as soon as the archive cannot be opened, an
// entry cannot be read or written in full (header, method, password, CRC-32,
// size, short data, full disk, path too long), or a nested archive cannot be
// extracted. Entries whose names would leave the work folder are refused with
// a log line and skipped; they do not make the extraction fail.
bool ExtractArchive(const wchar_t* archivePath, const wchar_t* destination);

// Names of entries (relative to the work folder, "\" or "/" separators,
// letter case ignored) whose extraction the run wants to know of: the clients
// it may start, so that a client that is gone later is known as one this run
// did extract. ExtractArchive forgets what it saw of an earlier extraction.
void WatchForEntries(const std::vector<std::wstring>& names);
// Whether the last extraction wrote the watched entry name in full.
bool WatchedEntryExtracted(const std::wstring& name);

// Why an entry could not be extracted, for the log.
const wchar_t* ZipResultReason(ZipResult result);

// The folder part of an entry name, with "\" separators, as a new string that
// the caller releases with delete[]; null when the name has no folder part or
// its folder part starts with a separator.
wchar_t* GetEntryFolder(const wchar_t* entryName);
