#pragma once
// A ByteSource over an open file handle.
#include <windows.h>

#include "extract/byte_source.h"

class FileByteSource : public ByteSource {
  public:
    explicit FileByteSource(HANDLE file);
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t length) override;

  private:
    HANDLE file_;
    uint64_t size_ = 0;
};
