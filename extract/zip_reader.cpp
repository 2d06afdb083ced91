#include "extract/zip_reader.h"

#include <unzip.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "extract/entry_data_decoder.h"
#include "extract/entry_file_closer.h"
#include "extract/entry_name.h"
#include "extract/entry_rules.h"
#include "extract/extracted_file_stamp.h"
#include "extract/extraction_failure.h"
#include "extract/file_byte_source.h"
#include "extract/zip_layout.h"
#include "extract/zip_file_access.h"
#include "extract/zip_attributes.h"
#include "extract/zip_extra_field.h"
#include "extract/zip_time.h"
#include "common/folder_creation.h"
#include "common/little_endian.h"
#include "common/path_components.h"
#include "common/text_conversion.h"
#include "common/unique_handle.h"

// What the reader keeps about its cached entry beyond the public record.
struct ZipEntryDetails {
    uint32_t crc = 0;
    unsigned method = 0;
    unsigned flags = 0;
    uint32_t dosDateTime = 0;  // DOS date in the high 16 bits, time in the low 16
};

struct ZipReader {
    void* archive = nullptr;                 // minizip's handle on the open archive file
    wchar_t rootFolder[kPathCapacity] = {};  // ends in "\" or "/"
    int32_t entryCount = 0;
    ZipEntryInfo cachedEntry = {};
    int32_t cachedIndex = -1;  // -1 while nothing is cached
    ZipEntryDetails cachedDetails;
    // The directory entry minizip stands on; kUnknownPosition after a failed
    // step, when only a restart from the first entry tells where it is.
    int32_t currentIndex = 0;
    // Directory records from this index on cannot be reached: the one before
    // could not be read, so stepping past it makes no progress.
    int32_t unreachableFrom = 0;
    uint32_t restarts = 0;  // how often a move went back to the first entry
    // The archive file under minizip, read directly for entry data.
    ZipFileAccess* archiveFile = nullptr;
    // The entry whose data minizip has open and untouched since reading its
    // record (its local header is checked then), or -1: extracting it right
    // after its record needs no second open.
    int32_t dataOpenIndex = -1;
    DWORD writeError = 0;  // the system's answer to the last write that failed
};

namespace {

constexpr int32_t kUnknownPosition = INT32_MAX;
constexpr unsigned kEncryptedFlag = 0x0001;
constexpr unsigned kDataDescriptorFlag = 0x0008;
constexpr unsigned kUtf8NameFlag = 0x0800;
constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr size_t kNameBufferSize = kLongestStoredName + 1;
// Entry data moves in chunks of up to this size: small entries take a buffer
// of their own size, large ones a few hundred reads and writes per 100 MB.
constexpr unsigned kCopyBufferSize = 256 * 1024;
constexpr unsigned kSmallestCopyBuffer = 16384;

unzFile Archive(const ZipReader* reader) {
    return static_cast<unzFile>(reader->archive);
}

// The current directory, ending in a separator; false when it does not fit.
bool TakeRootFolder(wchar_t* root) {
    DWORD length = GetCurrentDirectoryW(kPathCapacity, root);
    if (length == 0 || length >= kPathCapacity) {
        return false;
    }
    if (!IsPathSeparator(root[length - 1])) {
        if (length + 1 >= kPathCapacity) {
            return false;
        }
        root[length] = L'\\';
        root[length + 1] = L'\0';
    }
    return true;
}

// Puts minizip on the entry at index, stepping forward from where it stands;
// only an index behind the current entry restarts from the first one.
ZipResult MoveToEntry(ZipReader* reader, int32_t index) {
    if (index >= reader->unreachableFrom) {
        return ZipHeaderError;
    }
    unzFile archive = Archive(reader);
    if (index < reader->currentIndex) {
        ++reader->restarts;
        if (unzGoToFirstFile(archive) != UNZ_OK) {
            reader->unreachableFrom = 0;
            reader->currentIndex = kUnknownPosition;
            return ZipHeaderError;
        }
        reader->currentIndex = 0;
    }
    while (reader->currentIndex < index) {
        if (unzGoToNextFile(archive) != UNZ_OK) {
            reader->unreachableFrom = reader->currentIndex + 1;
            reader->currentIndex = kUnknownPosition;
            return ZipHeaderError;
        }
        ++reader->currentIndex;
    }
    return ZipOk;
}

// Validates the current entry's local header against its directory record
// (minizip does that when it opens the entry's data) and reads the timestamps
// of its local extra field. On ZipOk the entry's data stays open for the
// extraction that usually follows.
ZipResult ReadLocalHeader(unzFile archive, ExtendedTimestamps* stamps) {
    if (unzOpenCurrentFile2(archive, nullptr, nullptr, 1) != UNZ_OK) {
        return ZipHeaderError;
    }
    ZipResult result = ZipOk;
    int size = unzGetLocalExtrafield(archive, nullptr, 0);
    if (size < 0) {
        result = ZipExtraFieldError;
    } else if (size > 0) {
        std::unique_ptr<unsigned char[]> field(new (std::nothrow) unsigned char[size]);
        if (field == nullptr ||
            unzGetLocalExtrafield(archive, field.get(), static_cast<unsigned>(size)) != size) {
            result = ZipExtraFieldError;
        } else {
            *stamps = FindExtendedTimestamps(field.get(), static_cast<size_t>(size));
        }
    }
    if (result != ZipOk) {
        unzCloseCurrentFile(archive);
    }
    return result;
}

// The directory record of the entry minizip stands on, with its stored name.
ZipResult ReadDirectoryRecord(unzFile archive, unz_file_info64* file,
                              char (&name)[kNameBufferSize]) {
    if (unzGetCurrentFileInfo64(archive, file, name, sizeof(name), nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        return ZipHeaderError;
    }
    // A name that does not fit the record, that a NUL would cut short, or
    // that is flagged as UTF-8 and is not, cannot be written under its own name.
    if (file->size_filename >= kNameBufferSize ||
        JudgeStoredName(std::string_view(name, file->size_filename),
                        (file->flag & kUtf8NameFlag) != 0) != StoredNameVerdict::Usable) {
        return ZipHeaderError;
    }
    if (file->compressed_size > UINT32_MAX || file->uncompressed_size > UINT32_MAX ||
        (file->compression_method != kStoredMethod && file->compression_method != kDeflateMethod)) {
        return ZipHeaderError;
    }
    return ZipOk;
}

// Names flagged as UTF-8 (what current zip tools write for names beyond
// ASCII) are decoded as such; others are in the ANSI code page. False when
// the name does not decode or does not fit the record.
bool DecodeEntryName(const char* name, size_t length, bool utf8, wchar_t (&out)[kPathCapacity]) {
    std::wstring wide;
    if (!WideFromCodePage(utf8 ? CP_UTF8 : CP_ACP, name, length, utf8 ? MB_ERR_INVALID_CHARS : 0,
                          wide) ||
        wide.size() >= kPathCapacity) {
        return false;
    }
    std::wmemcpy(out, wide.c_str(), wide.size() + 1);
    return true;
}

// The DOS time of the directory record for all three times, replaced by the
// times of an extended timestamp block where it has them. An invalid DOS date
// leaves the times zero: "unknown", and the written file then keeps the times
// of its writing.
void SetEntryTimes(uint32_t dosDateTime, const ExtendedTimestamps& stamps, ZipEntryInfo* record) {
    FILETIME dosTime;
    ZipTimeToFileTime(static_cast<uint16_t>(dosDateTime >> 16),
                      static_cast<uint16_t>(dosDateTime & 0xffff), &dosTime);
    record->lastAccessTime = dosTime;
    record->creationTime = dosTime;
    record->lastWriteTime = dosTime;
    if (stamps.hasModification) {
        record->lastWriteTime = UnixTimeToFileTime(stamps.modification);
    }
    if (stamps.hasAccess) {
        record->lastAccessTime = UnixTimeToFileTime(stamps.access);
    }
    if (stamps.hasCreation) {
        record->creationTime = UnixTimeToFileTime(stamps.creation);
    }
}

// The record of the entry minizip stands on: its directory record, checked
// against its local header before the record is filled in.
ZipResult ReadCurrentEntry(unzFile archive, int32_t index, ZipEntryInfo* record,
                           ZipEntryDetails* details) {
    unz_file_info64 file;
    char name[kNameBufferSize];
    ZipResult directory = ReadDirectoryRecord(archive, &file, name);
    if (directory != ZipOk) {
        return directory;
    }
    ExtendedTimestamps stamps;
    ZipResult local = ReadLocalHeader(archive, &stamps);
    if (local != ZipOk) {
        return local;
    }

    *record = ZipEntryInfo{};
    record->entryIndex = index;
    if (!DecodeEntryName(name, file.size_filename, (file.flag & kUtf8NameFlag) != 0,
                         record->entryName)) {
        return ZipHeaderError;
    }
    record->fileAttributes = ZipEntryAttributes(static_cast<uint16_t>(file.version),
                                                static_cast<uint32_t>(file.external_fa));
    record->packedSize = static_cast<uint32_t>(file.compressed_size);
    record->unpackedSize = static_cast<uint32_t>(file.uncompressed_size);
    SetEntryTimes(static_cast<uint32_t>(file.dosDate), stamps, record);

    details->crc = static_cast<uint32_t>(file.crc);
    details->method = static_cast<unsigned>(file.compression_method);
    details->flags = static_cast<unsigned>(file.flag);
    details->dosDateTime = static_cast<uint32_t>(file.dosDate);
    return ZipOk;
}

// The stored bytes of one entry, read from the archive file straight into the
// caller's buffer.
struct StoredData {
    ZipFileAccess* file;
    uint64_t position;
    uint64_t remaining;
};

int ReadStoredChunk(void* context, unsigned char* buffer, unsigned capacity) {
    StoredData* data = static_cast<StoredData*>(context);
    DWORD wanted = capacity < data->remaining ? capacity : static_cast<DWORD>(data->remaining);
    if (wanted == 0) {
        return 0;
    }
    DWORD got = 0;
    if (!ReadZipFileAt(data->file, data->position, buffer, wanted, &got) || got != wanted) {
        return -1;  // the archive ends inside the entry's data
    }
    data->position += got;
    data->remaining -= got;
    return static_cast<int>(got);
}

// Opens the current entry's data raw: minizip checks the local header and
// finds where the stored bytes begin; they are read from the file here, and
// decryption and inflation happen here too, because this minizip build has no
// decryption. The data of the entry whose record was just read is open
// already. False, with nothing left open, when the data cannot be opened.
bool OpenEntryData(ZipReader* reader, int32_t index) {
    unzFile archive = Archive(reader);
    bool open = reader->dataOpenIndex == index ||
                unzOpenCurrentFile2(archive, nullptr, nullptr, 1) == UNZ_OK;
    reader->dataOpenIndex = -1;
    if (!open || reader->archiveFile == nullptr) {
        unzCloseCurrentFile(archive);
        return false;
    }
    return true;
}

EntryDataFormat DataFormatOf(const ZipEntryInfo& record, const ZipEntryDetails& details) {
    EntryDataFormat format;
    format.method = details.method;
    format.encrypted = (details.flags & kEncryptedFlag) != 0;
    format.checkByte = (details.flags & kDataDescriptorFlag) != 0
                           ? static_cast<unsigned char>(details.dosDateTime >> 8)
                           : static_cast<unsigned char>(details.crc >> 24);
    format.declaredSize = record.unpackedSize;
    return format;
}

unsigned CopyBufferSize(uint32_t unpackedSize) {
    return unpackedSize < kSmallestCopyBuffer ? kSmallestCopyBuffer
           : unpackedSize > kCopyBufferSize   ? kCopyBufferSize
                                              : unpackedSize;
}

bool WriteChunk(HANDLE output, const unsigned char* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(output, data, size, &written, nullptr) && written == size;
}

// Writes the decoded content to output until the decoder reports its end.
ZipResult CopyContent(EntryDataDecoder& decoder, unsigned char* buffer, unsigned bufferSize,
                      HANDLE output, DWORD* writeError) {
    for (;;) {
        int got = decoder.Read(buffer, bufferSize);
        if (got == 0) {
            return ZipOk;
        }
        if (got == DecodeWrongPassword) {
            return ZipPasswordError;
        }
        if (got < 0) {
            return ZipDataError;
        }
        if (!WriteChunk(output, buffer, static_cast<DWORD>(got))) {
            *writeError = GetLastError();
            return ZipWriteError;
        }
    }
}

// The whole content is written: it must match the record's CRC-32 and size.
ZipResult CheckEntryContent(const EntryDataDecoder& decoder, const ZipEntryInfo& record,
                            const ZipEntryDetails& details) {
    if (decoder.crc() != details.crc || decoder.length() != record.unpackedSize) {
        return ZipDataError;
    }
    return ZipOk;
}

// The entry's known times (its attributes are given when the file is made).
ExtractedFileStamp EntryTimes(const ZipEntryInfo& record) {
    ExtractedFileStamp stamp;
    stamp.creation = record.creationTime;
    stamp.lastAccess = record.lastAccessTime;
    stamp.lastWrite = record.lastWriteTime;
    return stamp;
}

// Copies the current entry's content into the open output file.
ZipResult WriteEntryData(ZipReader* reader, const ZipEntryInfo& record,
                         const ZipEntryDetails& details, HANDLE output) {
    if (!OpenEntryData(reader, record.entryIndex)) {
        return ZipDataError;
    }
    unzFile archive = Archive(reader);
    StoredData stored = {reader->archiveFile, unzGetCurrentFileZStreamPos64(archive),
                         record.packedSize};
    std::unique_ptr<EntryDataDecoder> decoder(new (std::nothrow) EntryDataDecoder(
        ReadStoredChunk, &stored, DataFormatOf(record, details)));
    unsigned bufferSize = CopyBufferSize(record.unpackedSize);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[bufferSize]);

    ZipResult result = ZipDataError;
    if (decoder != nullptr && buffer != nullptr) {
        result = CopyContent(*decoder, buffer.get(), bufferSize, output, &reader->writeError);
        if (result == ZipOk) {
            result = CheckEntryContent(*decoder, record, details);
        }
    }
    unzCloseCurrentFile(archive);
    return result;
}

// minizip takes an end-of-archive record at offset 0 for "not found", so an
// archive without entries (nothing but that record and its comment) is
// recognised here: signature, disk numbers, counts, directory size and offset
// all zero, and the comment running exactly to the end of the file.
bool IsEmptyZipArchive(const wchar_t* path) {
    UniqueFileHandle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return false;
    }
    FileByteSource source(file.get());
    return IsEmptyZip(source);
}

// A name that ends in a separator cannot name a file: tools that store no
// directory attribute still mark folders so.
bool IsFolderEntry(const ZipEntryInfo& record) {
    size_t nameLength = std::wcslen(record.entryName);
    bool folderName = nameLength > 0 && IsPathSeparator(record.entryName[nameLength - 1]);
    return (record.fileAttributes & kDirectoryAttribute) != 0 || folderName;
}

// A folder entry creates its folders below the root, under its own name.
ZipResult CreateFolderEntry(const ZipReader* reader, const ZipEntryInfo& record) {
    if (!IsEntryNameInside(record.entryName)) {
        return ZipFileError;
    }
    return CreateEntryFolders(reader->rootFolder, record.entryName) ? ZipOk : ZipFileError;
}

constexpr DWORD kAttributesInTheWay =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

HANDLE OpenForAttributes(const wchar_t* path, DWORD access) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Clears the read-only, hidden and system attributes of the file at path
// (an earlier archive's desktop.ini, say), seen through a handle on the file
// itself: a link in its place is left alone, never followed. Windows lets
// that handle change them; where the system refuses such a handle on a
// read-only file (Wine), they are set by name while the handle is held.
// False when there was nothing to clear.
bool ClearAttributesInTheWay(const wchar_t* path) {
    UniqueFileHandle existing(
        OpenForAttributes(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
    bool byHandle = existing.valid();
    if (!byHandle) {
        existing.reset(OpenForAttributes(path, FILE_READ_ATTRIBUTES));
    }
    FILE_BASIC_INFO basic;
    if (!existing ||
        !GetFileInformationByHandleEx(existing.get(), FileBasicInfo, &basic, sizeof(basic)) ||
        (basic.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        (basic.FileAttributes & kAttributesInTheWay) == 0) {
        return false;
    }
    DWORD kept = basic.FileAttributes & ~kAttributesInTheWay;
    kept = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    if (!byHandle) {
        return SetFileAttributesW(path, kept) != 0;
    }
    basic = FILE_BASIC_INFO{};  // zero times: left as they are
    basic.FileAttributes = kept;
    return SetFileInformationByHandle(existing.get(), FileBasicInfo, &basic, sizeof(basic)) != 0;
}

// Creates the entry's file anew. Windows refuses that over a hidden, system
// or read-only file: such a file loses those attributes, and the creation is
// tried once more.
UniqueFileHandle CreateEntryFile(const wchar_t* path, DWORD attributes) {
    UniqueFileHandle output(
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    if (!output && GetLastError() == ERROR_ACCESS_DENIED && ClearAttributesInTheWay(path)) {
        output.reset(
            CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
        // Not every system gives a file created over another the attributes asked for.
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
        if (output) {
            SetFileInformationByHandle(output.get(), FileBasicInfo, &basic, sizeof(basic));
        }
    }
    return output;
}

// A file entry is written to the root folder + destinationName. With a
// closer, the written file is handed to it to be finished.
ZipResult WriteFileEntry(ZipReader* reader, const ZipEntryInfo& record,
                         const wchar_t* destinationName, EntryFileCloser* closer) {
    wchar_t path[kPathCapacity];
    if (!IsEntryNameInside(destinationName) ||
        !JoinFolderAndName(reader->rootFolder, destinationName, std::wcslen(destinationName), path,
                           kPathCapacity)) {
        return ZipFileError;
    }
    UniqueFileHandle output = CreateEntryFile(path, record.fileAttributes);
    // An earlier entry of the same name may still be being finished.
    if (!output && closer != nullptr && GetLastError() == ERROR_SHARING_VIOLATION) {
        closer->Settle();
        output = CreateEntryFile(path, record.fileAttributes);
    }
    if (!output) {
        NoteEntryWriteFailure(GetLastError(), path);
        return ZipFileError;
    }
    ZipResult result = WriteEntryData(reader, record, reader->cachedDetails, output.get());
    if (result == ZipWriteError) {
        NoteEntryWriteFailure(reader->writeError, path);
    }
    if (result != ZipOk) {
        return result;
    }
    // The times go on through the handle here, where a failure may be
    // logged; only the close, where a scanner makes the writer wait, is
    // handed to the closer.
    StampOpenFile(output.get(), EntryTimes(record), path);
    WrittenFile file;
    file.handle = output.release();
    if (closer != nullptr) {
        file.name = destinationName;
        closer->Submit(std::move(file));
        return ZipOk;
    }
    // A close that fails may not have stored the last bytes.
    DWORD closed = CloseWrittenFile(file);
    if (closed != ERROR_SUCCESS) {
        NoteEntryWriteFailure(closed, path);
        return ZipWriteError;
    }
    return ZipOk;
}

}  // namespace

ZipReader* OpenZipArchive(const wchar_t* archivePath) {
    if (archivePath == nullptr) {
        return nullptr;
    }
    std::unique_ptr<ZipReader> reader(new (std::nothrow) ZipReader());
    if (reader == nullptr || !TakeRootFolder(reader->rootFolder)) {
        return nullptr;
    }
    // Opened with CreateFileW for reading, shared for reading only, failing
    // when the file does not exist.
    zlib_filefunc64_def io;
    FillZipFileFunctions(&io, &reader->archiveFile);
    unzFile archive = unzOpen2_64(archivePath, &io);
    if (archive == nullptr) {
        if (!IsEmptyZipArchive(archivePath)) {
            return nullptr;
        }
        reader->cachedIndex = -1;  // no entries: nothing for minizip to read
        return reader.release();
    }
    unz_global_info64 global;
    if (unzGetGlobalInfo64(archive, &global) != UNZ_OK || global.number_entry > INT32_MAX) {
        unzClose(archive);
        return nullptr;
    }
    reader->archive = archive;
    reader->entryCount = static_cast<int32_t>(global.number_entry);
    reader->currentIndex = 0;
    reader->unreachableFrom = reader->entryCount;
    if (reader->entryCount > 0 && unzGoToFirstFile(archive) != UNZ_OK) {
        reader->unreachableFrom = 0;
    }
    reader->cachedIndex = -1;
    return reader.release();
}

ZipResult ReadEntryInfo(ZipReader* reader, int entryIndex, ZipEntryInfo* info) {
    if (reader == nullptr || info == nullptr || entryIndex < -1 ||
        entryIndex >= reader->entryCount) {
        return ZipBadArgument;
    }
    if (entryIndex != -1 && entryIndex == reader->cachedIndex) {
        *info = reader->cachedEntry;
        return ZipOk;
    }
    if (entryIndex == -1) {
        *info = ZipEntryInfo{};
        info->entryIndex = reader->entryCount;
        return ZipOk;
    }
    ZipResult moved = MoveToEntry(reader, entryIndex);
    if (moved != ZipOk) {
        return moved;
    }
    ZipEntryInfo record;
    ZipEntryDetails details;
    reader->dataOpenIndex = -1;
    ZipResult read = ReadCurrentEntry(Archive(reader), entryIndex, &record, &details);
    if (read != ZipOk) {
        return read;
    }
    reader->dataOpenIndex = entryIndex;
    reader->cachedEntry = record;
    reader->cachedDetails = details;
    reader->cachedIndex = entryIndex;
    *info = record;
    return ZipOk;
}

ZipResult ExtractEntryToFile(ZipReader* reader, int entryIndex, const wchar_t* destinationName,
                             EntryFileCloser* closer) {
    if (reader == nullptr || destinationName == nullptr || entryIndex < 0 ||
        entryIndex >= reader->entryCount) {
        return ZipBadArgument;
    }
    ZipResult moved = MoveToEntry(reader, entryIndex);
    if (moved != ZipOk) {
        return moved;
    }
    // Without its own record the entry cannot be told apart as folder or
    // file: its result is the reason, and nothing is written.
    ZipEntryInfo record;
    ZipResult read = ReadEntryInfo(reader, entryIndex, &record);
    if (read != ZipOk) {
        return read;
    }
    if (IsFolderEntry(record)) {
        return CreateFolderEntry(reader, record);
    }
    return WriteFileEntry(reader, record, destinationName, closer);
}

ZipResult CloseZipArchive(ZipReader* reader) {
    if (reader == nullptr) {
        return ZipBadArgument;
    }
    if (reader->archive != nullptr) {
        unzClose(Archive(reader));
    }
    delete reader;
    return ZipOk;
}

uint32_t ZipReaderRestarts(const ZipReader* reader) {
    return reader != nullptr ? reader->restarts : 0;
}

bool CreateEntryFolders(const wchar_t* rootFolder, const wchar_t* relativePath) {
    if (rootFolder == nullptr || relativePath == nullptr) {
        return false;
    }
    size_t length = std::wcslen(relativePath);
    if (length == 0) {
        return true;
    }
    size_t folderLength =
        std::wcslen(rootFolder) + length - (IsPathSeparator(relativePath[length - 1]) ? 1 : 0);
    if (folderLength > kLongestFolderPath) {
        return false;
    }
    wchar_t path[kPathCapacity];
    if (JoinFolderAndName(rootFolder, relativePath, length, path, kPathCapacity)) {
        CreateFolderPath(path);
    }
    return true;
}
