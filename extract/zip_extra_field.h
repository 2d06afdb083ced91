#pragma once
// The extended timestamp block ("UT", tag 0x5455) of a zip entry's local
// extra field.
#include <cstddef>
#include <cstdint>

struct ExtendedTimestamps {
    bool hasModification = false;
    bool hasAccess = false;
    bool hasCreation = false;
    int32_t modification = 0;  // seconds since 1970-01-01 UTC
    int32_t access = 0;
    int32_t creation = 0;
};

// Walks the blocks (16-bit tag, 16-bit size, data) of an extra field longer
// than 4 bytes and reads the first extended timestamp block: a flags byte,
// then the modification, access and creation times for flag bits 0, 1 and 2.
// A time counts only when its flag is set and all its 4 bytes lie inside both
// the block and the field; nothing is read past the field.
ExtendedTimestamps FindExtendedTimestamps(const unsigned char* field, size_t length);
