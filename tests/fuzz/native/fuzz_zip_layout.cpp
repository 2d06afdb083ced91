// The zip layout check: directory records, local headers, overlaps, declared sizes.
#include <vector>

#include "extract/zip_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> copy(data, data + size);
    MemoryByteSource source(copy.data(), copy.size());
    ReadZipLayout(source);
    return 0;
}
