#pragma once
// Little-endian fields of a byte buffer, as the archive and executable
// formats store them. Header-only, so that parsers built without the
// platform's headers can use it too.
#include <cstdint>

inline uint16_t ReadLe16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadLe64(const unsigned char* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}
