// Replacing a token in the configuration text, in place within its buffer.
#include <cstring>
#include <vector>

#include "config/param_substitution.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    // First byte: buffer capacity; then text, token and value split at bytes 0xFF.
    unsigned capacity = data[0] + 1u;
    std::vector<std::wstring> parts(3);
    size_t part = 0;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF && part < 2) {
            ++part;
        } else if (data[i] != 0) {
            parts[part] += static_cast<wchar_t>(data[i]);
        }
    }
    std::vector<wchar_t> buffer(capacity, L'x');
    if (parts[0].size() < capacity) {
        std::wmemcpy(buffer.data(), parts[0].c_str(), parts[0].size() + 1);
    }
    substituteParam(buffer.data(), parts[1].c_str(), parts[2].c_str(), capacity);
    ReplaceAllOccurrences(parts[0], parts[1], parts[2]);
    return 0;
}
