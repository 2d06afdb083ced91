#pragma once
// What the extraction driver checks in an archive file before it writes any
// of its entries. Each refusal writes one log line naming the archive and why.

// A zip archive: its entries must not overlap, and the sizes they declare
// must fit the free space of the work folder's drive. An archive whose
// directory cannot be found passes: the zip reader then refuses it itself.
bool ZipArchiveMayBeExtracted(const wchar_t* archivePath);

// A cabinet: its structure must be sound (CheckCabinetStructure), its members
// must fit the run's share of entries, and their sizes the free space.
bool CabinetMayBeExtracted(const wchar_t* cabinetPath);

// Whether declaredSize bytes fit the free space of the work folder's drive
// (a drive whose free space cannot be told counts as large enough).
bool DeclaredSizeFits(const wchar_t* archivePath, unsigned long long declaredSize);
