#pragma once
// The version resource (VS_VERSIONINFO) as a tree of blocks: the fixed file
// information, the string table Explorer shows under Details, the
// translation. Read, changed and written back by the same code on every
// platform.
#include <cstdint>
#include <string>
#include <vector>

struct VersionBlock {
    std::u16string key;
    uint16_t type = 1;                 // 1: the value is text, 0: bytes
    std::vector<unsigned char> value;  // text: UTF-16LE with its terminating zero
    std::vector<VersionBlock> children;
};

// Four 16-bit numbers, most significant first, as the fixed information holds them.
struct FourPartVersion {
    uint16_t part[4] = {0, 0, 0, 0};
};

bool ReadVersionResource(const std::vector<unsigned char>& data, VersionBlock& root,
                         std::string& error);
std::vector<unsigned char> WriteVersionResource(const VersionBlock& root);

// A string of the first string table, as UTF-8; empty when absent.
std::string VersionString(const VersionBlock& root, const std::u16string& key);
// Sets a string of the first string table, adding the table when there is none.
void SetVersionString(VersionBlock& root, const std::u16string& key, const std::string& utf8);

// The fixed file and product versions; false when the fixed information is
// missing or malformed.
bool FixedVersions(const VersionBlock& root, FourPartVersion& file, FourPartVersion& product);
bool SetFixedVersions(VersionBlock& root, const FourPartVersion& file,
                      const FourPartVersion& product);

// "A.B.C.D" for a version.
std::string FourPartText(const FourPartVersion& version);

// UTF-16 of valid UTF-8 text, and UTF-8 of UTF-16 (lone surrogates become U+FFFD).
std::u16string Utf16FromUtf8(const std::string& utf8);
std::string Utf8FromUtf16(const std::u16string& utf16);
