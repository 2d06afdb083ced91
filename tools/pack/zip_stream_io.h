#pragma once
// minizip's file access over a stream buffer, seen from a base offset on: the
// zip parts see a file that begins at the base and runs to the buffer's end.
// This lets them read and write the archive inside a package in place, and the
// tool open every file through std::filesystem paths (UTF-16 on Windows).
#include <cstdint>
#include <streambuf>
#include <string>

#include "extract/byte_source.h"
#include "ioapi.h"
#include "unzip.h"

struct StreamWindow {
    std::streambuf* buffer = nullptr;
    uint64_t base = 0;
    uint64_t end = 0;  // where the file ends for minizip; 0: the buffer's end
    // Where the buffer stands, kept here: asking a file buffer flushes what
    // it holds and costs a system call, and minizip asks several times an
    // entry. -1: unknown, ask the buffer.
    int64_t position = -1;
};

// Fills functions so that minizip works on window; window must outlive the
// zip or unzip handle. The name given to zipOpen2_64/unzOpen2_64 is ignored.
void FillStreamFileFunctions(zlib_filefunc64_def& functions, StreamWindow& window);

// Owns an open unzip handle.
class UnzipHandle {
  public:
    explicit UnzipHandle(unzFile file) : file_(file) {}
    ~UnzipHandle() {
        if (file_ != nullptr) {
            unzClose(file_);
        }
    }
    UnzipHandle(const UnzipHandle&) = delete;
    UnzipHandle& operator=(const UnzipHandle&) = delete;
    unzFile get() const { return file_; }

  private:
    unzFile file_;
};

// Opens the zip archive that the window shows; the window must outlive it.
// Null, with the reason, when it does not open.
unzFile OpenWindowArchive(StreamWindow& window, std::string& error);

// The window's bytes for the launcher's structure checks (ReadZipLayout).
class StreamByteSource : public ByteSource {
  public:
    explicit StreamByteSource(StreamWindow window);
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t length) override;

  private:
    StreamWindow window_;
    uint64_t size_ = 0;
};

// A read-only stream buffer over bytes in memory (a nested archive read out
// of its payload), seekable as a file is, whatever direction is asked for.
class MemoryStreamBuffer : public std::streambuf {
  public:
    explicit MemoryStreamBuffer(std::string& bytes);

  protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir from,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
};
