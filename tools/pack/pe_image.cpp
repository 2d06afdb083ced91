#include "tools/pack/pe_image.h"

#include <algorithm>

#include "common/little_endian.h"
#include "package/package_layout.h"

namespace {

constexpr size_t kSectionHeaderLength = 40;
constexpr uint32_t kInitializedData = 0x00000040;
constexpr size_t kChecksumBlock = 1 << 20;  // even, so that words never straddle two blocks

void WriteLe32(std::vector<unsigned char>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

PeSection ReadSection(const std::vector<unsigned char>& image, size_t header) {
    const unsigned char* p = image.data() + header;
    PeSection section;
    section.header = header;
    section.virtualSize = ReadLe32(p + 8);
    section.virtualAddress = ReadLe32(p + 12);
    section.rawSize = ReadLe32(p + 16);
    section.rawPointer = ReadLe32(p + 20);
    section.characteristics = ReadLe32(p + 36);
    return section;
}

void WriteSection(std::vector<unsigned char>& image, const PeSection& section) {
    WriteLe32(image, section.header + 8, section.virtualSize);
    WriteLe32(image, section.header + 12, section.virtualAddress);
    WriteLe32(image, section.header + 16, section.rawSize);
    WriteLe32(image, section.header + 20, section.rawPointer);
}

bool ReadSections(const std::vector<unsigned char>& image, size_t table, size_t count, PeImage& pe,
                  std::string& error) {
    if (table + count * kSectionHeaderLength > std::min(image.size(), kHeaderBlockLength)) {
        error = "its section table lies outside its headers";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        PeSection section = ReadSection(image, table + i * kSectionHeaderLength);
        if (static_cast<uint64_t>(section.rawPointer) + section.rawSize > image.size()) {
            error = "a section's data lies outside the file";
            return false;
        }
        pe.sections.push_back(section);
    }
    return true;
}

// Adds the 16-bit words of data to a folded sum; an odd length ends on a half word.
uint32_t AddWords(uint32_t sum, const unsigned char* data, size_t length) {
    for (size_t i = 0; i + 1 < length; i += 2) {
        sum += ReadLe16(data + i);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (length % 2 != 0) {
        sum += data[length - 1];
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum;
}

// Zeroes the part of the checksum field that lies in a block starting at offset.
void BlankChecksumField(std::vector<unsigned char>& block, uint64_t offset, size_t field) {
    for (size_t i = field; i < field + 4; ++i) {
        if (i >= offset && i - offset < block.size()) {
            block[static_cast<size_t>(i - offset)] = 0;
        }
    }
}

}  // namespace

bool ReadPeImage(const std::vector<unsigned char>& image, PeImage& pe, std::string& error) {
    size_t head = std::min(image.size(), kHeaderBlockLength);
    size_t security = SecurityDirectoryField(image.data(), head);
    if (security == 0) {
        error = "it has no PE headers";
        return false;
    }
    PeImage result;
    size_t peHeader = ReadLe32(image.data() + 0x3C);
    result.optionalHeader = peHeader + 24;
    result.directories = security - 4 * 8;
    bool wide = ReadLe16(image.data() + result.optionalHeader) == 0x20B;
    result.directoryCount = ReadLe32(image.data() + result.optionalHeader + (wide ? 108 : 92));
    result.sectionAlignment = ReadLe32(image.data() + result.optionalHeader + 32);
    result.fileAlignment = ReadLe32(image.data() + result.optionalHeader + 36);
    if (result.directoryCount <= kRelocationDirectory || result.fileAlignment == 0 ||
        result.sectionAlignment == 0 || result.directories + 6 * 8 > head) {
        error = "its headers lack the resource and relocation directories";
        return false;
    }
    size_t table = result.optionalHeader + ReadLe16(image.data() + peHeader + 20);
    if (!ReadSections(image, table, ReadLe16(image.data() + peHeader + 6), result, error)) {
        return false;
    }
    pe = result;
    return true;
}

uint32_t DirectoryAddress(const std::vector<unsigned char>& image, const PeImage& pe,
                          uint32_t index) {
    return index < pe.directoryCount ? ReadLe32(image.data() + pe.directories + index * 8) : 0;
}

uint32_t DirectorySize(const std::vector<unsigned char>& image, const PeImage& pe, uint32_t index) {
    return index < pe.directoryCount ? ReadLe32(image.data() + pe.directories + index * 8 + 4) : 0;
}

int ResourceSectionIndex(const std::vector<unsigned char>& image, const PeImage& pe) {
    uint32_t address = DirectoryAddress(image, pe, kResourceDirectory);
    for (size_t i = 0; i < pe.sections.size(); ++i) {
        if (address != 0 && pe.sections[i].virtualAddress == address) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

size_t ChecksumField(const PeImage& pe) {
    return pe.optionalHeader + 64;
}

namespace {

// What may follow the resource section: nothing, or the base relocations
// alone, ending the file.
std::string CheckTail(const std::vector<unsigned char>& image, const PeImage& pe, int resource) {
    const PeSection& last = pe.sections.back();
    if (static_cast<size_t>(resource) + 2 < pe.sections.size() ||
        (static_cast<size_t>(resource) + 2 == pe.sections.size() &&
         last.virtualAddress != DirectoryAddress(image, pe, kRelocationDirectory))) {
        return "sections other than the base relocations follow its resource section";
    }
    if (static_cast<uint64_t>(last.rawPointer) + last.rawSize != image.size()) {
        return "bytes follow its last section";
    }
    const PeSection& rsrc = pe.sections[static_cast<size_t>(resource)];
    if (&rsrc != &last && rsrc.rawPointer + rsrc.rawSize != last.rawPointer) {
        return "its last two sections do not follow each other in the file";
    }
    return std::string();
}

}  // namespace

bool ReplaceResourceSection(std::vector<unsigned char>& image,
                            const std::vector<unsigned char>& section, std::string& error) {
    PeImage pe;
    if (!ReadPeImage(image, pe, error)) {
        return false;
    }
    int index = ResourceSectionIndex(image, pe);
    error = index < 0 ? "it has no resource section" : CheckTail(image, pe, index);
    if (!error.empty()) {
        return false;
    }
    PeSection rsrc = pe.sections[static_cast<size_t>(index)];
    bool relocated = static_cast<size_t>(index) + 1 < pe.sections.size();
    std::vector<unsigned char> tail;
    if (relocated) {
        const PeSection& reloc = pe.sections.back();
        tail.assign(image.begin() + reloc.rawPointer, image.end());
    }
    uint32_t oldRawSize = rsrc.rawSize;
    rsrc.virtualSize = static_cast<uint32_t>(section.size());
    rsrc.rawSize = AlignUp(rsrc.virtualSize, pe.fileAlignment);
    image.resize(rsrc.rawPointer);
    image.insert(image.end(), section.begin(), section.end());
    image.resize(rsrc.rawPointer + rsrc.rawSize, 0);
    image.insert(image.end(), tail.begin(), tail.end());
    WriteSection(image, rsrc);
    WriteLe32(image, pe.directories + kResourceDirectory * 8 + 4, rsrc.virtualSize);
    PeSection last = rsrc;
    if (relocated) {
        last = pe.sections.back();
        last.virtualAddress = AlignUp(rsrc.virtualAddress + rsrc.virtualSize, pe.sectionAlignment);
        last.rawPointer = rsrc.rawPointer + rsrc.rawSize;
        WriteSection(image, last);
        WriteLe32(image, pe.directories + kRelocationDirectory * 8, last.virtualAddress);
    }
    if ((rsrc.characteristics & kInitializedData) != 0) {
        size_t field = pe.optionalHeader + 8;
        WriteLe32(image, field, ReadLe32(image.data() + field) - oldRawSize + rsrc.rawSize);
    }
    WriteLe32(image, pe.optionalHeader + 56,
              AlignUp(last.virtualAddress + last.virtualSize, pe.sectionAlignment));
    WriteLe32(image, ChecksumField(pe), PeChecksum(image, ChecksumField(pe)));
    return true;
}

uint32_t PeChecksum(const std::vector<unsigned char>& bytes, size_t checksumField) {
    std::vector<unsigned char> copy(bytes);
    BlankChecksumField(copy, 0, checksumField);
    return AddWords(0, copy.data(), copy.size()) + static_cast<uint32_t>(copy.size());
}

bool PeChecksumOfStream(std::streambuf& buffer, size_t checksumField, uint32_t& checksum) {
    if (buffer.pubseekpos(0) != std::streampos(0)) {
        return false;
    }
    std::vector<unsigned char> block(kChecksumBlock);
    uint64_t offset = 0;
    uint32_t sum = 0;
    for (;;) {
        block.resize(kChecksumBlock);
        std::streamsize got = buffer.sgetn(reinterpret_cast<char*>(block.data()),
                                           static_cast<std::streamsize>(block.size()));
        if (got <= 0) {
            break;
        }
        block.resize(static_cast<size_t>(got));
        BlankChecksumField(block, offset, checksumField);
        sum = AddWords(sum, block.data(), block.size());
        offset += block.size();
    }
    checksum = sum + static_cast<uint32_t>(offset);
    return true;
}
