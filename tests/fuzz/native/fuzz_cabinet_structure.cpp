// The structure check that every cabinet passes before the platform's library sees it.
#include <vector>

#include "extract/cabinet_structure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> copy(data, data + size);
    MemoryByteSource source(copy.data(), copy.size());
    CabinetStructure structure = CheckCabinetStructure(source);
    if (!structure.sound && structure.reason[0] == L'\0') {
        __builtin_trap();  // every refusal says why
    }
    return 0;
}
