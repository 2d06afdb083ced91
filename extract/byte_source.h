#pragma once
// Random access to the bytes of an archive, so that the checks that read an
// archive's structure are plain logic over bytes: a file on the platform, a
// buffer in tests and fuzz targets.
#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly length bytes at offset; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
};

class MemoryByteSource : public ByteSource {
  public:
    MemoryByteSource(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        if (offset > size_ || length > size_ - offset) {
            return false;
        }
        if (length > 0) {
            std::memcpy(buffer, data_ + offset, length);
        }
        return true;
    }

  private:
    const unsigned char* data_;
    size_t size_;
};

// Little-endian fields of a byte buffer.
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
