#include "package/package_layout.h"

#include <cstring>

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
