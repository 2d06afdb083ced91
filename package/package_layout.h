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

// A certificate table (the PE security directory: Authenticode signatures).
// Code signing appends it to the end of the file, so in a signed package it
// lies behind the archive.
struct CertificateTable {
    bool present = false;
    uint32_t offset = 0;  // file offset, as the directory entry gives it
    uint32_t size = 0;
};

// The bytes at the start of a file that hold its PE headers.
constexpr size_t kHeaderBlockLength = 4096;

// Where the security directory entry (two 32-bit numbers: offset and size)
// stands in the PE image whose first bytes are head; 0 when head holds no PE
// image with such an entry.
size_t SecurityDirectoryField(const unsigned char* head, size_t headLength);

// The certificate table the PE headers in head name, when it lies whole
// within a file of fileSize bytes and ends where the file ends.
CertificateTable FindCertificateTable(const unsigned char* head, size_t headLength,
                                      uint64_t fileSize);

// Where the embedded archive ends: where a certificate table behind the
// archive's start begins, otherwise at the end of the file.
uint64_t ArchiveEndOffset(const PackageLayout& layout, const CertificateTable& table,
                          uint64_t fileSize);

// The marker bytes, decoded at run time so that they never stand in sequence
// in the launcher's own image (the search must not find the launcher itself).
const unsigned char* MarkerBytes();

// Runs the search over the file's bytes from kMarkerSearchStart on. block holds
// those bytes, up to kSearchBlockEnd or the end of the file, whichever is first;
// windows that reach past the block never match.
PackageLayout LocatePackage(const unsigned char* block, size_t blockLength);
