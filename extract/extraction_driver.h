#pragma once
// Extracts an archive into the work folder: the entries of a zip archive, with
// the folders they need, and every nested zip or cabinet archive among them.

// How deep nested archives are followed: the archive handed in is level 0, an
// archive inside it level 1, and so on. An archive at this level is extracted,
// but archives inside it are written and not followed (one log line says so).
// This also ends archives that contain themselves, directly or through others.
constexpr int kMaxArchiveNesting = 8;

// Makes the destination the current directory (and leaves it so), then
// extracts the archive there: a path containing ".cab" goes to the cabinet
// extraction, any other is walked as a zip archive. Entries whose names would
// leave the work folder, or whose paths do not fit, are refused with a log
// line; the rest of the archive goes on.
void ExtractArchive(const wchar_t* archivePath, const wchar_t* destination);

// The folder part of an entry name, with "\" separators, as a new string that
// the caller releases with delete[]; null when the name has no folder part or
// its folder part starts with a separator.
wchar_t* GetEntryFolder(const wchar_t* entryName);
