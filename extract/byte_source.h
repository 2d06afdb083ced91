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
