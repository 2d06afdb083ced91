#pragma once
// Where a package's parts lie in an executable file: the marker, the property
// text and the embedded zip archive. Every boundary is found by searching.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int32_t kMarkerSearchStart = 100000;
constexpr int32_t kMarkerSearchEnd = 500000;  // inclusive, for the marker and the archive
constexpr size_t kMarkerLength = 6;
constexpr size_t kSignatureLength = 4;
constexpr size_t kPropertyCapacity = 260;  // bytes, terminator included
// The bytes the search can ever look at end here.
constexpr int32_t kSearchBlockEnd = kMarkerSearchEnd + static_cast<int32_t>(kMarkerLength) + 4;

struct PackageLayout {
    int result = 0;  // 1 when both the marker and the archive signature were found
    bool markerFound = false;
    int32_t markerOffset = 0;    // M, when found
    int32_t propertyOffset = 0;  // M + 6
    int32_t archiveOffset = 0;   // A, or where the search stopped
    bool propertyTooLong = false;
    bool propertyRead = false;
    std::string propertyText;  // the L bytes between marker and archive, when read
};

// The marker bytes, decoded at run time so that they never stand in sequence
// in the launcher's own image (the search must not find the launcher itself).
const unsigned char* MarkerBytes();

// Runs the search over the file's bytes from kMarkerSearchStart on. block holds
// those bytes, up to kSearchBlockEnd or the end of the file, whichever is first;
// windows that reach past the block never match.
PackageLayout LocatePackage(const unsigned char* block, size_t blockLength);
