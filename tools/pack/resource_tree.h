#pragma once
// The resource section of a PE image as a tree (type, name, language, data),
// read from and written back to bytes. Pure functions, the same on every
// platform.
#include <cstdint>
#include <string>
#include <vector>

struct ResourceNode {
    bool named = false;  // a name entry rather than a number
    uint16_t id = 0;
    std::u16string name;
    // A directory's children, or a leaf's data.
    std::vector<ResourceNode> children;
    bool leaf = false;
    uint32_t codePage = 0;
    std::vector<unsigned char> data;
};

constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;

// The tree of a resource section whose bytes start at RVA sectionAddress.
// False, with the reason, when a directory, name or data entry lies outside
// the section or the tree is deeper than type, name and language.
bool ReadResourceTree(const std::vector<unsigned char>& section, uint32_t sectionAddress,
                      ResourceNode& root, std::string& error);

// The section's bytes for a tree, to stand at RVA sectionAddress: every
// directory first, then the data entries, the names and the data, each
// directory's entries sorted as the loader's search needs them.
std::vector<unsigned char> WriteResourceTree(const ResourceNode& root, uint32_t sectionAddress);

// The child with number id, or null.
ResourceNode* FindResourceChild(ResourceNode& node, uint16_t id);
const ResourceNode* FindResourceChild(const ResourceNode& node, uint16_t id);

// The first leaf below node (the first name's first language), or null.
const ResourceNode* FirstResourceLeaf(const ResourceNode& node);
ResourceNode* FirstResourceLeaf(ResourceNode& node);
