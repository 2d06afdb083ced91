#include "extract/zip_extra_field.h"

#include "common/little_endian.h"

namespace {

constexpr unsigned kExtendedTimestampTag = 0x5455;

ExtendedTimestamps ParseTimestampBlock(const unsigned char* data, size_t size) {
    ExtendedTimestamps times;
    if (size < 1) {
        return times;
    }
    unsigned flags = data[0];
    size_t position = 1;
    bool* present[3] = {&times.hasModification, &times.hasAccess, &times.hasCreation};
    int32_t* value[3] = {&times.modification, &times.access, &times.creation};
    for (int bit = 0; bit < 3; ++bit) {
        if ((flags & (1u << bit)) == 0) {
            continue;
        }
        if (position + 4 > size) {
            break;
        }
        *present[bit] = true;
        *value[bit] = static_cast<int32_t>(ReadLe32(data + position));
        position += 4;
    }
    return times;
}

}  // namespace

ExtendedTimestamps FindExtendedTimestamps(const unsigned char* field, size_t length) {
    if (field == nullptr || length <= 4) {
        return {};
    }
    size_t offset = 0;
    while (offset + 4 < length) {
        unsigned tag = ReadLe16(field + offset);
        size_t size = ReadLe16(field + offset + 2);
        if (tag == kExtendedTimestampTag) {
            size_t available = length - (offset + 4);
            return ParseTimestampBlock(field + offset + 4, size < available ? size : available);
        }
        offset += 4 + size;
    }
    return {};
}
