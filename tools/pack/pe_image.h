#pragma once
// The PE headers of the launcher stub, as far as branding needs them: the
// sections, the resource and relocation directories, the image size and the
// checksum. Pure functions over bytes, the same on every platform.
#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

struct PeSection {
    size_t header = 0;  // file offset of the section header
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;
};

struct PeImage {
    size_t optionalHeader = 0;  // file offset
    size_t directories = 0;     // file offset of the data directory table
    uint32_t directoryCount = 0;
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    std::vector<PeSection> sections;
};

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kRelocationDirectory = 5;

// The headers of image; false, with the reason, when they are not those of
// a well-formed PE image whose sections lie within the file.
bool ReadPeImage(const std::vector<unsigned char>& image, PeImage& pe, std::string& error);

// The RVA and size of a data directory entry (0, 0 when absent).
uint32_t DirectoryAddress(const std::vector<unsigned char>& image, const PeImage& pe,
                          uint32_t index);
uint32_t DirectorySize(const std::vector<unsigned char>& image, const PeImage& pe, uint32_t index);

// The section that starts at the resource directory, or -1.
int ResourceSectionIndex(const std::vector<unsigned char>& image, const PeImage& pe);

// Puts section in place of the resource section's bytes. The resource
// section must be the last one, or followed only by the base relocations,
// which move up behind it (their contents do not depend on where they lie).
// Section sizes, the relocation section's address, both directories, the
// initialised-data size, the image size and the checksum are brought up to
// date. False, with the reason, when the image is not laid out so.
bool ReplaceResourceSection(std::vector<unsigned char>& image,
                            const std::vector<unsigned char>& section, std::string& error);

// Where the checksum field stands in a PE image (its headers already read).
size_t ChecksumField(const PeImage& pe);

// The PE image checksum of a whole file: the 16-bit one's-complement sum of
// its words, the checksum field taken as zero, plus the file's length.
uint32_t PeChecksum(const std::vector<unsigned char>& bytes, size_t checksumField);
// The same over a stream from its start to its end; false when it cannot be read.
bool PeChecksumOfStream(std::streambuf& buffer, size_t checksumField, uint32_t& checksum);
