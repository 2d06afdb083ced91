#include "extract/zip_file_access.h"

#include <cstring>
#include <new>
#include <utility>

#include "common/unique_handle.h"

namespace {

constexpr DWORD kWindowSize = 64 * 1024;
constexpr int kWindowCount = 2;

struct FileWindow {
    uint64_t offset = 0;
    DWORD length = 0;  // 0 while the window holds nothing
    uint64_t lastUse = 0;
    unsigned char bytes[kWindowSize];
};

}  // namespace

struct ZipFileAccess {
    UniqueFileHandle file;
    uint64_t size = 0;
    uint64_t position = 0;
    bool failed = false;
    uint64_t filePointer = UINT64_MAX;  // where the handle's own position stands
    uint64_t uses = 0;
    FileWindow windows[kWindowCount];
    ZipFileAccess** owner = nullptr;
};

namespace {

// A plain positioned read: a read with an OVERLAPPED offset costs the
// platform an extra round trip for a completion nobody waits for.
bool ReadDirect(ZipFileAccess* access, uint64_t offset, unsigned char* buffer, DWORD size,
                DWORD* got) {
    *got = 0;
    if (access->filePointer != offset) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(access->file.get(), to, nullptr, FILE_BEGIN)) {
            access->filePointer = UINT64_MAX;
            return false;
        }
    }
    if (!ReadFile(access->file.get(), buffer, size, got, nullptr)) {
        access->filePointer = UINT64_MAX;
        return false;
    }
    access->filePointer = offset + *got;
    return true;
}

// The window that holds [offset, offset + size), or null.
FileWindow* WindowHolding(ZipFileAccess* access, uint64_t offset, DWORD size) {
    for (FileWindow& window : access->windows) {
        if (window.length > 0 && offset >= window.offset &&
            offset + size <= window.offset + window.length) {
            window.lastUse = ++access->uses;
            return &window;
        }
    }
    return nullptr;
}

// Copies [offset, offset + size) out of a window, as far as the file reaches.
void CopyFromWindow(const FileWindow& window, uint64_t offset, unsigned char* buffer, DWORD size,
                    DWORD* got) {
    uint64_t start = offset - window.offset;
    DWORD available = window.length > start ? static_cast<DWORD>(window.length - start) : 0;
    *got = size < available ? size : available;
    std::memcpy(buffer, window.bytes + start, *got);
}

// The window that holds [offset, offset + size), refilled from the file when
// none does; null when reading failed.
FileWindow* WindowFor(ZipFileAccess* access, uint64_t offset, DWORD size) {
    if (FileWindow* window = WindowHolding(access, offset, size)) {
        return window;
    }
    FileWindow* oldest = &access->windows[0];
    for (FileWindow& window : access->windows) {
        if (window.lastUse < oldest->lastUse) {
            oldest = &window;
        }
    }
    // A window that would run past the end of the file ends there instead:
    // minizip looks for the end records backwards from the end, a kilobyte
    // at a time, and those reads then all fall into one window.
    uint64_t start = access->size > kWindowSize ? access->size - kWindowSize : 0;
    if (offset < start) {
        start = offset;
    }
    DWORD got = 0;
    oldest->length = 0;
    if (!ReadDirect(access, start, oldest->bytes, kWindowSize, &got)) {
        return nullptr;
    }
    oldest->offset = start;
    oldest->length = got;
    oldest->lastUse = ++access->uses;
    return oldest;
}

voidpf ZCALLBACK OpenFile(voidpf opaque, const void* name, int mode) {
    if (name == nullptr || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
        return nullptr;
    }
    UniqueFileHandle file(CreateFileW(static_cast<const wchar_t*>(name), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        return nullptr;
    }
    ZipFileAccess* access = new (std::nothrow) ZipFileAccess();
    if (access == nullptr) {
        return nullptr;
    }
    access->file = std::move(file);
    access->size = static_cast<uint64_t>(size.QuadPart);
    access->owner = static_cast<ZipFileAccess**>(opaque);
    if (access->owner != nullptr) {
        *access->owner = access;
    }
    return access;
}

uLong ZCALLBACK ReadFileAt(voidpf, voidpf stream, void* buffer, uLong size) {
    ZipFileAccess* access = static_cast<ZipFileAccess*>(stream);
    DWORD got = 0;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    bool read = true;
    if (size == 0 || access->position >= access->size) {
        got = 0;
    } else if (size >= kWindowSize) {
        read = ReadDirect(access, access->position, out, static_cast<DWORD>(size), &got);
    } else if (FileWindow* window = WindowFor(access, access->position, static_cast<DWORD>(size))) {
        CopyFromWindow(*window, access->position, out, static_cast<DWORD>(size), &got);
    } else {
        read = false;
    }
    if (!read) {
        access->failed = true;
        return 0;
    }
    access->position += got;
    return got;
}

uLong ZCALLBACK WriteNothing(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK TellFile(voidpf, voidpf stream) {
    return static_cast<ZipFileAccess*>(stream)->position;
}

long ZCALLBACK SeekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    ZipFileAccess* access = static_cast<ZipFileAccess*>(stream);
    uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = access->position;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = access->size;
            break;
        default:
            return -1;
    }
    access->position = base + offset;
    return 0;
}

int ZCALLBACK CloseFile(voidpf, voidpf stream) {
    ZipFileAccess* access = static_cast<ZipFileAccess*>(stream);
    if (access->owner != nullptr) {
        *access->owner = nullptr;
    }
    delete access;
    return 0;
}

int ZCALLBACK FileError(voidpf, voidpf stream) {
    return static_cast<ZipFileAccess*>(stream)->failed ? -1 : 0;
}

}  // namespace

void FillZipFileFunctions(zlib_filefunc64_def* io, ZipFileAccess** opened) {
    io->zopen64_file = OpenFile;
    io->zread_file = ReadFileAt;
    io->zwrite_file = WriteNothing;
    io->ztell64_file = TellFile;
    io->zseek64_file = SeekFile;
    io->zclose_file = CloseFile;
    io->zerror_file = FileError;
    io->opaque = opened;
}

bool ReadZipFileAt(ZipFileAccess* access, uint64_t offset, unsigned char* buffer, DWORD size,
                   DWORD* got) {
    *got = 0;
    if (size == 0 || offset >= access->size) {
        return true;
    }
    // Entry data already in a window (small entries, behind their local
    // header) is copied from there; anything else goes to the file directly,
    // leaving the windows to the directory and the headers.
    if (FileWindow* window = WindowHolding(access, offset, size)) {
        CopyFromWindow(*window, offset, buffer, size, got);
        return true;
    }
    return ReadDirect(access, offset, buffer, size, got);
}
