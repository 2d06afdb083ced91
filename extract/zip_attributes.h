#pragma once
// Windows file attributes for a zip entry.
#include <cstdint>

// The host system that made an entry is the high byte of the directory
// record's "version made by". Entries from FAT, Macintosh, NTFS and VFAT hosts
// carry Windows attribute bits in the external attributes; for every other host
// (Unix above all) the high 16 bits hold a Unix mode: the directory type gives
// 0x10, a missing owner-write permission read-only, and the archive bit is set.
uint32_t ZipEntryAttributes(uint16_t versionMadeBy, uint32_t externalAttributes);
