#include "extract/file_byte_source.h"

FileByteSource::FileByteSource(HANDLE file) : file_(file) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart >= 0) {
        size_ = static_cast<uint64_t>(size.QuadPart);
    }
}

bool FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t length) {
    if (offset > size_ || length > size_ - offset) {
        return false;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD chunk = length > 0x100000 ? 0x100000 : static_cast<DWORD>(length);
        DWORD got = 0;
        if (!ReadFile(file_, out, chunk, &got, &at) || got == 0) {
            return false;
        }
        out += got;
        offset += got;
        length -= got;
    }
    return true;
}
