#include "extract/zip_layout.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/little_endian.h"

namespace {

constexpr size_t kEndRecordSize = 22;
constexpr size_t kEnd64LocatorSize = 20;
constexpr size_t kEnd64RecordSize = 56;
constexpr size_t kDirectoryRecordSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint64_t kMaxCommentSearch = 0xFFFF;
constexpr uint16_t kZip64Tag = 0x0001;

struct Span {
    uint64_t start;
    uint64_t end;
    uint32_t record;  // UINT32_MAX for the directory
};

struct Directory {
    uint64_t recordCount = 0;
    uint64_t offset = 0;  // where the directory lies in the file
    uint64_t size = 0;
    uint64_t bytesBefore = 0;  // bytes in front of the archive (a package's launcher)
};

// The last occurrence of the 4-byte signature in the file's tail, as minizip
// searches for it; false when there is none.
bool FindLastSignature(ByteSource& source, const char* signature, uint64_t& found) {
    uint64_t size = source.Size();
    uint64_t first =
        size > kMaxCommentSearch + kEndRecordSize ? size - kMaxCommentSearch - kEndRecordSize : 0;
    std::vector<unsigned char> tail(static_cast<size_t>(size - first));
    if (tail.size() < 4 || !source.ReadAt(first, tail.data(), tail.size())) {
        return false;
    }
    for (size_t i = tail.size() - 4 + 1; i-- > 0;) {
        if (std::memcmp(tail.data() + i, signature, 4) == 0) {
            found = first + i;
            return true;
        }
    }
    return false;
}

bool ReadDirectory64(ByteSource& source, uint64_t endRecord, Directory& directory,
                     uint64_t& recordPosition) {
    unsigned char locator[kEnd64LocatorSize];
    if (endRecord < kEnd64LocatorSize ||
        !source.ReadAt(endRecord - kEnd64LocatorSize, locator, sizeof(locator)) ||
        std::memcmp(locator, "PK\x06\x07", 4) != 0) {
        return false;
    }
    recordPosition = ReadLe64(locator + 8);
    unsigned char record[kEnd64RecordSize];
    if (!source.ReadAt(recordPosition, record, sizeof(record)) ||
        std::memcmp(record, "PK\x06\x06", 4) != 0) {
        return false;
    }
    directory.recordCount = ReadLe64(record + 32);
    directory.size = ReadLe64(record + 40);
    directory.offset = ReadLe64(record + 48);
    return true;
}

bool ReadDirectory(ByteSource& source, Directory& directory) {
    uint64_t endRecord = 0;
    unsigned char record[kEndRecordSize];
    if (!FindLastSignature(source, "PK\x05\x06", endRecord) ||
        !source.ReadAt(endRecord, record, sizeof(record))) {
        return false;
    }
    uint64_t directoryEnd = endRecord;
    if (!ReadDirectory64(source, endRecord, directory, directoryEnd)) {
        directoryEnd = endRecord;
        directory.recordCount = ReadLe16(record + 10);
        directory.size = ReadLe32(record + 12);
        directory.offset = ReadLe32(record + 16);
    }
    if (directory.offset > directoryEnd || directory.size > directoryEnd - directory.offset) {
        return false;
    }
    directory.bytesBefore = directoryEnd - (directory.offset + directory.size);
    directory.offset += directory.bytesBefore;
    return true;
}

// The 64-bit values of the record's zip64 extra block, in the format's order,
// for those of its 32-bit fields that hold 0xFFFFFFFF.
void ApplyZip64Extra(const unsigned char* extra, size_t length, uint64_t& unpacked,
                     uint64_t& packed, uint64_t& offset) {
    size_t at = 0;
    while (at + 4 <= length) {
        uint16_t tag = ReadLe16(extra + at);
        size_t size = ReadLe16(extra + at + 2);
        at += 4;
        if (size > length - at) {
            return;
        }
        if (tag == kZip64Tag) {
            size_t field = at;
            for (uint64_t* value : {&unpacked, &packed, &offset}) {
                if (*value == 0xFFFFFFFF && field + 8 <= at + size) {
                    *value = ReadLe64(extra + field);
                    field += 8;
                }
            }
            return;
        }
        at += size;
    }
}

// The span of the entry whose directory record starts at position; false
// when the record cannot be read (the directory ends there).
bool ReadEntrySpan(ByteSource& source, const Directory& directory, uint64_t& position,
                   ZipLayout& layout, std::vector<Span>& spans) {
    unsigned char record[kDirectoryRecordSize];
    uint64_t directoryEnd = directory.offset + directory.size;
    if (position + kDirectoryRecordSize > directoryEnd ||
        !source.ReadAt(position, record, sizeof(record)) ||
        std::memcmp(record, "PK\x01\x02", 4) != 0) {
        return false;
    }
    uint64_t packed = ReadLe32(record + 20);
    uint64_t unpacked = ReadLe32(record + 24);
    uint64_t offset = ReadLe32(record + 42);
    size_t nameLength = ReadLe16(record + 28);
    size_t extraLength = ReadLe16(record + 30);
    size_t commentLength = ReadLe16(record + 32);
    if (packed == 0xFFFFFFFF || unpacked == 0xFFFFFFFF || offset == 0xFFFFFFFF) {
        std::vector<unsigned char> extra(extraLength);
        if (source.ReadAt(position + kDirectoryRecordSize + nameLength, extra.data(),
                          extra.size())) {
            ApplyZip64Extra(extra.data(), extra.size(), unpacked, packed, offset);
        }
    }
    position += kDirectoryRecordSize + nameLength + extraLength + commentLength;
    layout.declaredSize += unpacked;
    ++layout.recordsRead;

    unsigned char local[kLocalHeaderSize];
    uint64_t start = offset + directory.bytesBefore;
    if (start < offset || !source.ReadAt(start, local, sizeof(local)) ||
        std::memcmp(local, "PK\x03\x04", 4) != 0) {
        return true;  // no local header there: the reader refuses that entry by itself
    }
    uint64_t end = start + kLocalHeaderSize + ReadLe16(local + 26) + ReadLe16(local + 28) + packed;
    spans.push_back(Span{start, end < start ? UINT64_MAX : end, layout.recordsRead - 1});
    return true;
}

}  // namespace

ZipLayout ReadZipLayout(ByteSource& source) {
    ZipLayout layout;
    Directory directory;
    if (!ReadDirectory(source, directory)) {
        return layout;
    }
    layout.directoryFound = true;
    std::vector<Span> spans;
    spans.push_back(Span{directory.offset, directory.offset + directory.size, UINT32_MAX});
    uint64_t position = directory.offset;
    for (uint64_t i = 0; i < directory.recordCount; ++i) {
        if (!ReadEntrySpan(source, directory, position, layout, spans)) {
            break;
        }
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].start < spans[i - 1].end) {
            layout.overlapping = true;
            layout.overlappingRecord =
                spans[i].record != UINT32_MAX ? spans[i].record : spans[i - 1].record;
            break;
        }
    }
    return layout;
}

bool IsEmptyZip(ByteSource& source) {
    unsigned char record[kEndRecordSize];
    uint64_t size = source.Size();
    if (size < kEndRecordSize || size > kEndRecordSize + 0xFFFF ||
        !source.ReadAt(0, record, sizeof(record)) || std::memcmp(record, "PK\x05\x06", 4) != 0) {
        return false;
    }
    for (size_t i = 4; i < 20; ++i) {
        if (record[i] != 0) {
            return false;
        }
    }
    return ReadLe16(record + 20) == size - kEndRecordSize;
}
