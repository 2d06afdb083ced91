#include "package/package_layout.h"

#include <cstring>

#include "common/little_endian.h"

namespace {

// The marker, each byte offset by a mask the compiler cannot fold away.
volatile unsigned char markerMask = 0x35;
constexpr unsigned char kMaskedMarker[kMarkerLength] = {
    '[' ^ 0x35, 'V' ^ 0x35, 'L' ^ 0x35, 'M' ^ 0x35, 'R' ^ 0x35, ']' ^ 0x35,
};
constexpr unsigned char kSignature[kSignatureLength] = {0x50, 0x4B, 0x03, 0x04};

bool WindowMatches(const unsigned char* block, size_t blockLength, int32_t offset,
                   const unsigned char* pattern, size_t patternLength) {
    size_t start = static_cast<size_t>(offset - kMarkerSearchStart);
    if (offset < kMarkerSearchStart || start + patternLength > blockLength) {
        return false;
    }
    return std::memcmp(block + start, pattern, patternLength) == 0;
}

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kOptionalHeader32 = 0x10B;
constexpr uint32_t kOptionalHeader64 = 0x20B;
constexpr uint32_t kSecurityDirectoryIndex = 4;

}  // namespace

const unsigned char* MarkerBytes() {
    static unsigned char marker[kMarkerLength];
    for (size_t i = 0; i < kMarkerLength; ++i) {
        marker[i] = static_cast<unsigned char>(kMaskedMarker[i] ^ markerMask);
    }
    return marker;
}

PackageLayout LocatePackage(const unsigned char* block, size_t blockLength) {
    PackageLayout layout;
    const unsigned char* marker = MarkerBytes();
    int32_t position = kMarkerSearchStart;
    for (; position <= kMarkerSearchEnd; ++position) {
        if (WindowMatches(block, blockLength, position, marker, kMarkerLength)) {
            layout.markerFound = true;
            layout.markerOffset = position;
            break;
        }
    }
    layout.propertyOffset = position + static_cast<int32_t>(kMarkerLength);
    layout.archiveOffset = layout.propertyOffset;

    if (layout.markerFound) {
        // The window right behind the marker is examined even beyond the bound.
        for (;;) {
            if (WindowMatches(block, blockLength, layout.archiveOffset, kSignature,
                              kSignatureLength)) {
                layout.result = 1;
                break;
            }
            ++layout.archiveOffset;
            if (layout.archiveOffset > kMarkerSearchEnd) {
                break;
            }
        }
    }

    if (layout.archiveOffset > layout.propertyOffset) {
        int32_t length = layout.archiveOffset - layout.propertyOffset;
        if (static_cast<size_t>(length) >= kPropertyCapacity) {
            layout.propertyTooLong = true;
        } else {
            size_t start = static_cast<size_t>(layout.propertyOffset - kMarkerSearchStart);
            size_t available = start < blockLength ? blockLength - start : 0;
            size_t taken = static_cast<size_t>(length) < available ? length : available;
            layout.propertyText.assign(reinterpret_cast<const char*>(block) + start, taken);
            layout.propertyRead = true;
        }
    }
    return layout;
}

size_t SecurityDirectoryField(const unsigned char* head, size_t headLength) {
    if (headLength < 0x40 || head[0] != 'M' || head[1] != 'Z') {
        return 0;
    }
    size_t pe = ReadLe32(head + 0x3C);
    size_t optional = pe + 24;  // signature and file header
    if (pe > headLength || headLength - pe < 24 + 2 || ReadLe32(head + pe) != kPeSignature) {
        return 0;
    }
    size_t optionalLength = ReadLe16(head + pe + 20);
    uint32_t magic = ReadLe16(head + optional);
    size_t countField = magic == kOptionalHeader64 ? 108 : 92;
    if (magic != kOptionalHeader32 && magic != kOptionalHeader64) {
        return 0;
    }
    size_t field = optional + countField + 4 + kSecurityDirectoryIndex * 8;
    if (field + 8 > optional + optionalLength || field + 8 > headLength ||
        ReadLe32(head + optional + countField) <= kSecurityDirectoryIndex) {
        return 0;
    }
    return field;
}

CertificateTable FindCertificateTable(const unsigned char* head, size_t headLength,
                                      uint64_t fileSize) {
    CertificateTable table;
    size_t field = SecurityDirectoryField(head, headLength);
    if (field == 0) {
        return table;
    }
    uint32_t offset = ReadLe32(head + field);
    uint32_t size = ReadLe32(head + field + 4);
    if (offset == 0 || size == 0 || static_cast<uint64_t>(offset) + size != fileSize) {
        return table;
    }
    table.present = true;
    table.offset = offset;
    table.size = size;
    return table;
}

uint64_t ArchiveEndOffset(const PackageLayout& layout, const CertificateTable& table,
                          uint64_t fileSize) {
    if (layout.result == 1 && table.present &&
        table.offset > static_cast<uint32_t>(layout.archiveOffset)) {
        return table.offset;
    }
    return fileSize;
}
