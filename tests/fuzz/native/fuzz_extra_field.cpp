// The extended timestamp search in a zip entry's local extra field.
#include <vector>

#include "extract/zip_extra_field.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the field's length, so that any read past it is caught.
    std::vector<unsigned char> field(data, data + size);
    FindExtendedTimestamps(field.data(), field.size());
    return 0;
}
