#pragma once
// A Windows .ico file taken apart into the images and the icon group that
// a program's resources hold (RT_ICON, RT_GROUP_ICON). Pure functions over
// bytes, the same on every platform.
#include <cstdint>
#include <string>
#include <vector>

struct IconImage {
    int width = 0;  // in pixels, 16 to 256
    int height = 0;
    bool png = false;  // PNG-compressed, otherwise a device-independent bitmap
    uint8_t colorCount = 0;
    uint16_t bitCount = 0;
    std::vector<unsigned char> data;
};

constexpr int kSmallestIcon = 16;
constexpr int kLargestIcon = 256;

// The images of an .ico file; false, with the reason, when the file is not
// one (a PNG or BMP file, a cursor, a truncated or inconsistent directory,
// images outside 16 to 256 pixels or whose header disagrees with it).
bool ReadIconFile(const std::vector<unsigned char>& file, std::vector<IconImage>& images,
                  std::string& error);

// The icon group (GRPICONDIR) naming the images as icons firstId, firstId + 1, ...
std::vector<unsigned char> IconGroupBytes(const std::vector<IconImage>& images, uint16_t firstId);

// The width and height of each image an icon group names ("16x16"), in its order.
std::vector<std::string> IconGroupSizes(const std::vector<unsigned char>& group);
