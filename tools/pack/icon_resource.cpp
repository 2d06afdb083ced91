#include "tools/pack/icon_resource.h"

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"

namespace {

constexpr size_t kDirectoryLength = 6;
constexpr size_t kFileEntryLength = 16;
constexpr size_t kGroupEntryLength = 14;
constexpr size_t kBitmapHeaderLength = 40;  // BITMAPINFOHEADER
const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t ReadBe32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool IsPng(const std::vector<unsigned char>& data) {
    return data.size() >= sizeof kPngSignature &&
           std::memcmp(data.data(), kPngSignature, sizeof kPngSignature) == 0;
}

std::string WhatTheFileIs(const std::vector<unsigned char>& file) {
    if (IsPng(file)) {
        return "it is a PNG image, not an .ico file";
    }
    if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') {
        return "it is a BMP image, not an .ico file";
    }
    if (file.size() >= 4 && ReadLe16(file.data()) == 0 && ReadLe16(file.data() + 2) == 2) {
        return "it is a cursor (.cur), not an .ico file";
    }
    return "it is not an .ico file (no icon directory at its start)";
}

// A PNG image's size from its header chunk, which must come first.
std::string CheckPng(IconImage& image) {
    const unsigned char* p = image.data.data();
    if (image.data.size() < 33 || ReadBe32(p + 8) != 13 || std::memcmp(p + 12, "IHDR", 4) != 0) {
        return "its PNG image has no header";
    }
    if (static_cast<int>(ReadBe32(p + 16)) != image.width ||
        static_cast<int>(ReadBe32(p + 20)) != image.height) {
        return "its PNG image is " + std::to_string(ReadBe32(p + 16)) + "x" +
               std::to_string(ReadBe32(p + 20)) + " pixels, its directory says " +
               std::to_string(image.width) + "x" + std::to_string(image.height);
    }
    image.bitCount = image.bitCount == 0 ? 32 : image.bitCount;
    return std::string();
}

// A bitmap image: its header, colour table, pixels and mask must fit the bytes given.
std::string CheckBitmap(IconImage& image) {
    const unsigned char* p = image.data.data();
    if (image.data.size() < kBitmapHeaderLength || ReadLe32(p) < kBitmapHeaderLength) {
        return "a bitmap image is cut short";
    }
    int32_t width = static_cast<int32_t>(ReadLe32(p + 4));
    int32_t height = static_cast<int32_t>(ReadLe32(p + 8));
    uint16_t bits = ReadLe16(p + 14);
    if (width != image.width || height != 2 * image.height || ReadLe16(p + 12) != 1) {
        return "a bitmap image's header disagrees with its directory entry";
    }
    if ((bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) ||
        ReadLe32(p + 16) != 0) {
        return "a bitmap image has " + std::to_string(bits) + " bits per pixel or is compressed";
    }
    uint64_t colors = bits <= 8 ? (ReadLe32(p + 32) != 0 ? ReadLe32(p + 32) : 1u << bits) : 0;
    uint64_t pixelRow = (uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32 * 4;
    uint64_t maskRow = (uint64_t{static_cast<uint32_t>(width)} + 31) / 32 * 4;
    uint64_t needed = ReadLe32(p) + colors * 4 + (pixelRow + maskRow) * image.height;
    if (needed > image.data.size()) {
        return "a bitmap image is cut short (" + std::to_string(image.data.size()) + " of " +
               std::to_string(needed) + " bytes)";
    }
    image.bitCount = bits;
    return std::string();
}

// One directory entry and its image; the reason when they do not hold together.
std::string ReadImage(const std::vector<unsigned char>& file, size_t entry, IconImage& image,
                      std::pair<uint32_t, uint32_t>& range) {
    const unsigned char* p = file.data() + entry;
    image.width = p[0] == 0 ? kLargestIcon : p[0];
    image.height = p[1] == 0 ? kLargestIcon : p[1];
    image.colorCount = p[2];
    image.bitCount = ReadLe16(p + 6);
    range = {ReadLe32(p + 12), ReadLe32(p + 8)};
    if (uint64_t{range.first} + range.second > file.size() || range.second == 0) {
        return "it is truncated: an image reaches past its end";
    }
    if (image.width < kSmallestIcon || image.height < kSmallestIcon) {
        return "it holds an image of " + std::to_string(image.width) + "x" +
               std::to_string(image.height) + " pixels: icons of 16 to 256 are taken";
    }
    image.data.assign(file.begin() + range.first, file.begin() + range.first + range.second);
    image.png = IsPng(image.data);
    return image.png ? CheckPng(image) : CheckBitmap(image);
}

// Images may not overlap each other or the directory.
bool RangesApart(std::vector<std::pair<uint32_t, uint32_t>> ranges, size_t directoryEnd) {
    std::sort(ranges.begin(), ranges.end());
    uint64_t end = directoryEnd;
    for (const auto& range : ranges) {
        if (range.first < end) {
            return false;
        }
        end = uint64_t{range.first} + range.second;
    }
    return true;
}

}  // namespace

bool ReadIconFile(const std::vector<unsigned char>& file, std::vector<IconImage>& images,
                  std::string& error) {
    if (file.size() < kDirectoryLength || ReadLe16(file.data()) != 0 ||
        ReadLe16(file.data() + 2) != 1) {
        error = WhatTheFileIs(file);
        return false;
    }
    size_t count = ReadLe16(file.data() + 4);
    size_t directoryEnd = kDirectoryLength + count * kFileEntryLength;
    error = count == 0                   ? "it holds no image"
            : directoryEnd > file.size() ? "it is truncated: its directory is cut short"
                                         : std::string();
    std::vector<IconImage> result(count);
    std::vector<std::pair<uint32_t, uint32_t>> ranges(count);
    for (size_t i = 0; i < count && error.empty(); ++i) {
        error = ReadImage(file, kDirectoryLength + i * kFileEntryLength, result[i], ranges[i]);
    }
    if (error.empty() && !RangesApart(ranges, directoryEnd)) {
        error = "its images overlap each other or its directory";
    }
    if (!error.empty()) {
        return false;
    }
    images = std::move(result);
    return true;
}

std::vector<unsigned char> IconGroupBytes(const std::vector<IconImage>& images, uint16_t firstId) {
    std::vector<unsigned char> group = {0,
                                        0,
                                        1,
                                        0,
                                        static_cast<unsigned char>(images.size()),
                                        static_cast<unsigned char>(images.size() >> 8)};
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        uint32_t size = static_cast<uint32_t>(image.data.size());
        uint16_t id = static_cast<uint16_t>(firstId + i);
        unsigned char entry[kGroupEntryLength] = {static_cast<unsigned char>(image.width & 0xFF),
                                                  static_cast<unsigned char>(image.height & 0xFF),
                                                  image.colorCount,
                                                  0,
                                                  1,
                                                  0,
                                                  static_cast<unsigned char>(image.bitCount),
                                                  static_cast<unsigned char>(image.bitCount >> 8),
                                                  static_cast<unsigned char>(size),
                                                  static_cast<unsigned char>(size >> 8),
                                                  static_cast<unsigned char>(size >> 16),
                                                  static_cast<unsigned char>(size >> 24),
                                                  static_cast<unsigned char>(id),
                                                  static_cast<unsigned char>(id >> 8)};
        group.insert(group.end(), entry, entry + kGroupEntryLength);
    }
    return group;
}

std::vector<std::string> IconGroupSizes(const std::vector<unsigned char>& group) {
    std::vector<std::string> sizes;
    size_t count = group.size() >= kDirectoryLength ? ReadLe16(group.data() + 4) : 0;
    for (size_t i = 0; i < count; ++i) {
        size_t at = kDirectoryLength + i * kGroupEntryLength;
        if (at + kGroupEntryLength > group.size()) {
            break;
        }
        int width = group[at] == 0 ? kLargestIcon : group[at];
        int height = group[at + 1] == 0 ? kLargestIcon : group[at + 1];
        sizes.push_back(std::to_string(width) + "x" + std::to_string(height));
    }
    return sizes;
}
