#pragma once
// minizip's file access over a stream buffer, seen from a base offset on: the
// zip parts see a file that begins at the base and runs to the buffer's end.
// This lets them read and write the archive inside a package in place, and the
// tool open every file through std::filesystem paths (UTF-16 on Windows).
#include <cstdint>
#include <streambuf>

#include "ioapi.h"

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
