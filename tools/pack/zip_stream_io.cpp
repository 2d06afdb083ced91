#include "tools/pack/zip_stream_io.h"

#include <algorithm>
#include <cstdio>
#include <ios>

namespace {

StreamWindow& WindowOf(voidpf opaque) {
    return *static_cast<StreamWindow*>(opaque);
}

std::streamoff CurrentPosition(StreamWindow& window) {
    if (window.position < 0) {
        window.position = window.buffer->pubseekoff(0, std::ios_base::cur);
    }
    return static_cast<std::streamoff>(window.position);
}

// After a read or write of count bytes; a failed one leaves the position in doubt.
void Advance(StreamWindow& window, std::streamsize count) {
    if (window.position >= 0 && count >= 0) {
        window.position += count;
    } else {
        window.position = -1;
    }
}

// Moves the buffer to target and notes where it stands; false when it cannot.
bool MoveTo(StreamWindow& window, std::streamoff target) {
    bool moved = window.buffer->pubseekpos(target) == std::streampos(target);
    window.position = moved ? target : -1;
    return moved;
}

voidpf ZCALLBACK OpenWindow(voidpf opaque, const void*, int) {
    StreamWindow& window = WindowOf(opaque);
    std::streamoff start = static_cast<std::streamoff>(window.base);
    if (window.buffer == nullptr || !MoveTo(window, start)) {
        return nullptr;
    }
    return opaque;
}

uLong ZCALLBACK ReadWindow(voidpf, voidpf stream, void* data, uLong size) {
    StreamWindow& window = WindowOf(stream);
    if (window.end != 0) {
        std::streamoff position = CurrentPosition(window);
        uint64_t left = position < 0 || static_cast<uint64_t>(position) >= window.end
                            ? 0
                            : window.end - static_cast<uint64_t>(position);
        size = static_cast<uLong>(std::min<uint64_t>(size, left));
    }
    std::streamsize got =
        window.buffer->sgetn(static_cast<char*>(data), static_cast<std::streamsize>(size));
    Advance(window, got);
    return got > 0 ? static_cast<uLong>(got) : 0;
}

uLong ZCALLBACK WriteWindow(voidpf, voidpf stream, const void* data, uLong size) {
    StreamWindow& window = WindowOf(stream);
    std::streamsize put =
        window.buffer->sputn(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    Advance(window, put);
    return put > 0 ? static_cast<uLong>(put) : 0;
}

ZPOS64_T ZCALLBACK TellWindow(voidpf, voidpf stream) {
    StreamWindow& window = WindowOf(stream);
    std::streamoff position = CurrentPosition(window);
    if (position < 0 || static_cast<uint64_t>(position) < window.base) {
        return static_cast<ZPOS64_T>(-1);
    }
    return static_cast<ZPOS64_T>(static_cast<uint64_t>(position) - window.base);
}

long ZCALLBACK SeekWindow(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    StreamWindow& window = WindowOf(stream);
    std::streamoff target = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            target = static_cast<std::streamoff>(window.base + offset);
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            target = CurrentPosition(window) + static_cast<std::streamoff>(offset);
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            target = (window.end != 0
                          ? static_cast<std::streamoff>(window.end)
                          : std::streamoff(window.buffer->pubseekoff(0, std::ios_base::end))) +
                     static_cast<std::streamoff>(offset);
            break;
        default:
            return -1;
    }
    if (target < static_cast<std::streamoff>(window.base)) {
        return -1;
    }
    return MoveTo(window, target) ? 0 : -1;
}

// The stream belongs to the caller, who closes it.
int ZCALLBACK CloseWindow(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK WindowError(voidpf, voidpf) {
    return 0;
}

}  // namespace

void FillStreamFileFunctions(zlib_filefunc64_def& functions, StreamWindow& window) {
    functions.zopen64_file = OpenWindow;
    functions.zread_file = ReadWindow;
    functions.zwrite_file = WriteWindow;
    functions.ztell64_file = TellWindow;
    functions.zseek64_file = SeekWindow;
    functions.zclose_file = CloseWindow;
    functions.zerror_file = WindowError;
    functions.opaque = &window;
}

unzFile OpenWindowArchive(StreamWindow& window, std::string& error) {
    zlib_filefunc64_def functions;
    FillStreamFileFunctions(functions, window);
    unzFile archive = unzOpen2_64("archive", &functions);
    if (archive == nullptr) {
        error = "it does not open as a zip archive";
    }
    return archive;
}

StreamByteSource::StreamByteSource(StreamWindow window) : window_(window) {
    std::streampos end = window_.buffer->pubseekoff(0, std::ios_base::end, std::ios_base::in);
    uint64_t last = end < 0 ? 0 : static_cast<uint64_t>(end);
    if (window_.end != 0 && window_.end < last) {
        last = window_.end;
    }
    size_ = last > window_.base ? last - window_.base : 0;
}

bool StreamByteSource::ReadAt(uint64_t offset, void* buffer, size_t length) {
    if (offset > size_ || length > size_ - offset) {
        return false;
    }
    std::streamoff position = static_cast<std::streamoff>(window_.base + offset);
    if (window_.buffer->pubseekpos(position, std::ios_base::in) != std::streampos(position)) {
        return false;
    }
    std::streamsize wanted = static_cast<std::streamsize>(length);
    return window_.buffer->sgetn(static_cast<char*>(buffer), wanted) == wanted;
}

MemoryStreamBuffer::MemoryStreamBuffer(std::string& bytes) {
    char* begin = &bytes[0];
    setg(begin, begin, begin + bytes.size());
}

MemoryStreamBuffer::pos_type MemoryStreamBuffer::seekoff(off_type offset,
                                                         std::ios_base::seekdir from,
                                                         std::ios_base::openmode which) {
    off_type base = from == std::ios_base::beg   ? 0
                    : from == std::ios_base::cur ? gptr() - eback()
                                                 : egptr() - eback();
    return seekpos(pos_type(base + offset), which);
}

MemoryStreamBuffer::pos_type MemoryStreamBuffer::seekpos(pos_type position,
                                                         std::ios_base::openmode) {
    off_type at = position;
    if (at < 0 || at > egptr() - eback()) {
        return pos_type(off_type(-1));
    }
    setg(eback(), eback() + at, egptr());
    return position;
}
